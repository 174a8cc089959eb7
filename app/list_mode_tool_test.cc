// The built QZRRemote in its /list mode against kvxemu: the listing of the
// example volume before and after the example commands, parsed as JSON and
// compared with the volume's own files; the volume left as it was; and a
// run that reaches no module.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/emu_machine.h"
#include "tests/json_reader.h"
#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;
namespace fs = std::filesystem;

const std::string kExamples = KVX_SOURCE_DIR "/examples";
const char* const kApps[9] = {"mail", "web", "chat", "voip", "rdesktop", "icaclient", "vmware", "photo", "music"};
const char* const kKeys[9] = {"MAIL", "WEB", "CHAT", "VOIP", "RDESKTOP", "ICACLIENT", "VMWARE", "PHOTO", "MUSIC"};

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    files[fs::relative(e.path(), root).string()] = e.is_regular_file() ? ReadFile(e.path().string()) : "/";
  return files;
}

// The first section of an account file on the volume: its name and keys.
struct IniSection {
  std::string name;
  std::map<std::string, std::string> keys;
};

IniSection FirstSection(const std::string& path) {
  std::string text = ReadFile(path);
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  IniSection s;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      if (!s.name.empty()) break;
      s.name = line.substr(1, line.find(']') - 1);
    } else if (const size_t eq = line.find('='); eq != std::string::npos && !s.name.empty()) {
      s.keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return s;
}

void SetTime(const std::string& path, long seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Checks the JSON listing against the account files of `volume`: every
// account and nothing else, each with its first-start mark and switches,
// and as default the account whose file was written last.
void ExpectAccountsOfTheVolume(const JsonNode& listing, const std::string& volume) {
  std::map<std::string, IniSection> expected;
  std::string latest_name;
  std::pair<long, long> latest{-1, 0};  // the file's last write, to the nanosecond
  for (const auto& e : fs::directory_iterator(volume + "/QUARLE.000")) {
    const std::string ini = e.path().string() + "/kvxaccount.ini";
    if (!fs::exists(ini)) continue;
    IniSection s = FirstSection(ini);
    struct stat st {};
    stat(ini.c_str(), &st);
    const std::pair<long, long> written{st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    if (written > latest) {
      latest = written;
      latest_name = s.name;
    }
    expected[s.name] = s;
  }
  EXPECT_EQ(listing["defaultAccount"].text, latest_name);
  const JsonNode& accounts = listing["accounts"];
  ASSERT_EQ(accounts.kind, JsonNode::kArray);
  ASSERT_EQ(accounts.items.size(), expected.size());
  for (const JsonNode& a : accounts.items) {
    const std::string name = a["name"].text;
    SCOPED_TRACE(name);
    ASSERT_TRUE(expected.count(name));
    const IniSection& s = expected[name];
    EXPECT_EQ(a["default"].boolean, name == latest_name);
    EXPECT_TRUE(a["readable"].boolean);
    EXPECT_EQ(a["firstTime"].text, s.keys.at("FirstTime"));
    ASSERT_EQ(a["applications"].keys, std::vector<std::string>(kApps, kApps + 9));
    for (int i = 0; i < 9; ++i)
      EXPECT_EQ(a["applications"][kApps[i]].number, std::stod(s.keys.at(kKeys[i]))) << kApps[i];
  }
}

JsonNode Parsed(const RunResult& r) {
  JsonNode j;
  std::string error;
  EXPECT_TRUE(ParseJson(r.out, j, error)) << error << "\n" << r.out;
  return j;
}

// The names and attributes of a command store's settings.
std::vector<std::string> Settings(const JsonNode& store) {
  std::vector<std::string> out;
  for (const JsonNode& s : store["settings"].items) {
    std::string line = s["name"].text;
    for (const std::string& k : s["attributes"].keys) line += " " + k + "=" + s["attributes"][k].text;
    out.push_back(line);
  }
  return out;
}

class ListTool : public ::testing::Test {
 protected:
  ListTool() : emu(kExamples + "/volume", false, box.machine()) {
    // Distinct times, so that one account file is the last one written.
    SetTime(emu.volume() + "/QUARLE.000/User/kvxaccount.ini", 1000000000);
    SetTime(emu.volume() + "/QUARLE.000/john/kvxaccount.ini", 1000000100);
    SetTime(emu.volume() + "/QUARLE.000/mary/kvxaccount.ini", 1000000200);
  }
  ToolSandbox box;
  EmuMachine emu;
};

TEST_F(ListTool, TheExampleVolumeBeforeAndAfterTheExampleCommands) {
  ASSERT_TRUE(emu.up());
  const auto before = Snapshot(emu.volume());
  RunResult r = box.Run({"/list", "/json"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  JsonNode j = Parsed(r);
  EXPECT_EQ(j.keys, (std::vector<std::string>{"roots", "defaultAccount", "accounts", "commandStores"}));
  EXPECT_EQ(j["roots"]["flash"].text, "~:");
  EXPECT_EQ(j["roots"]["data"].text, "~:\\QUARLE.000");
  EXPECT_EQ(j["roots"]["system"].text, "~:\\QUARLE.SYS");
  EXPECT_EQ(j["defaultAccount"].text, "mary");
  ExpectAccountsOfTheVolume(j, emu.volume());
  for (const char* store : {"password", "power", "radio"}) EXPECT_TRUE(j["commandStores"][store].is_null());
  EXPECT_TRUE(j["commandStores"]["passwordChanges"].items.empty());
  // The volume is as it was; the cycle opened and closed, nothing exported.
  EXPECT_EQ(Snapshot(emu.volume()), before);
  const std::string device = "\\Device\\KvxFlashVolume1";
  EXPECT_EQ(emu.Log(), (std::vector<std::string>{"firmware: status 0x18", "firmware: power on",
                                                 "service: mount -> " + device,
                                                 "driver: drive ~ -> " + device, "service: unlock",
                                                 "service: unmount", "firmware: status 0x38",
                                                 "driver: removed drive ~", "firmware: power off"}));
  const std::string log = box.Log();
  EXPECT_EQ(log.substr(log.find(", ") + 2), "/list, The XML file has been parsed successfully.\n\n");

  r = box.Run({kExamples + "/commands.xml"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  r = box.Run({"--list", "--json"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  j = Parsed(r);
  ExpectAccountsOfTheVolume(j, emu.volume());  // mary gone, mail and chat off
  EXPECT_EQ(j["accounts"].items.size(), 2u);
  const JsonNode& stores = j["commandStores"];
  const std::string cmds = emu.volume() + "/QUARLE.SYS/cmds/";
  ASSERT_TRUE(fs::exists(cmds + "password.xml") && fs::exists(cmds + "power.xml") && fs::exists(cmds + "radio.xml"));
  EXPECT_EQ(stores["password"]["file"].text, "~:\\QUARLE.SYS\\cmds\\password.xml");
  EXPECT_EQ(Settings(stores["password"]),
            std::vector<std::string>{"configPassword minLength=8 complexity=1 expireDays=90"});
  EXPECT_EQ(Settings(stores["power"]), (std::vector<std::string>{"ac standby=30 hibernate=120",
                                                                 "dc standby=10 hibernate=60", "lid action=sleep"}));
  EXPECT_EQ(Settings(stores["radio"]), std::vector<std::string>{"configRadio wlan=on bluetooth=off wwan=off"});
  // The change-password requests lie in the accounts' own cmds folders.
  std::vector<std::string> requests;
  for (const JsonNode& c : stores["passwordChanges"].items) {
    requests.push_back(c["account"].text);
    EXPECT_EQ(Settings(c["request"]),
              std::vector<std::string>{"singleUser action=changePassword user=" + c["account"].text});
    EXPECT_TRUE(fs::exists(emu.volume() + "/QUARLE.000/" + c["account"].text + "/cmds/password.xml"));
  }
  EXPECT_EQ(requests, (std::vector<std::string>{"User", "john"}));
}

TEST_F(ListTool, ProseInTheUsersLanguage) {
  ASSERT_TRUE(emu.up());
  RunResult r = box.Run({"/list"});
  EXPECT_EQ(r.exit_code, 0);
  const std::string all_on = "mail on, web on, chat on, voip on, rdesktop on, icaclient on, vmware on, photo on, music on";
  EXPECT_EQ(r.out, "Roots: flash ~:, data ~:\\QUARLE.000, system ~:\\QUARLE.SYS\n"
                   "Accounts: 3; default account: mary\n"
                   "  User: first-start mark 1; " + all_on + "\n"
                   "  john: first-start mark 0; " + all_on + "\n"
                   "  mary: first-start mark 0; " + all_on + "\n"
                   "Waiting for the flash system's next start:\n"
                   "  none\n");
  ASSERT_EQ(box.Run({kExamples + "/commands.xml"}).exit_code, 0);
  r = box.Run({"/list"}, {.env = {"LANG=fr_FR.UTF-8"}});
  EXPECT_EQ(r.exit_code, 0);
  const std::string changed = "mail désactivé, web activé, chat désactivé, voip activé, rdesktop activé, "
                              "icaclient activé, vmware activé, photo activé, music activé";
  EXPECT_EQ(r.out, "Racines : flash ~:, données ~:\\QUARLE.000, système ~:\\QUARLE.SYS\n"
                   "Comptes : 2 ; compte par défaut : User\n"
                   "  User : marque de premier démarrage 1 ; " + changed + "\n"
                   "  john : marque de premier démarrage 0 ; " + changed + "\n"
                   "En attente du prochain démarrage du système flash :\n"
                   "  paramètres de mot de passe : configPassword minLength=\"8\" complexity=\"1\" expireDays=\"90\"\n"
                   "  paramètres d'alimentation : ac standby=\"30\" hibernate=\"120\"; dc standby=\"10\" "
                   "hibernate=\"60\"; lid action=\"sleep\"\n"
                   "  paramètres radio : configRadio wlan=\"on\" bluetooth=\"off\" wwan=\"off\"\n"
                   "  changement de mot de passe pour le compte User\n"
                   "  changement de mot de passe pour le compte john\n");
}

TEST(ListToolWithoutModule, EndsWithFiveAndItsMessage) {
  ToolSandbox box;  // no machine runs for its machine folder
  RunResult r = box.Run({"/list", "/json"});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, "The flash module could not be reached; nothing was listed.\n");
  const std::string log = box.Log();
  EXPECT_EQ(log.substr(log.find(", ") + 2), "/list, Failed to parse the XML file.\n\n");
  r = box.Run({"/list"}, {.env = {"LANG=de_DE.UTF-8"}});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, "Das Flash-Modul war nicht erreichbar; nichts wurde aufgelistet.\n");
}

}  // namespace
}  // namespace kvx
