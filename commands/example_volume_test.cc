// The example command file applied to a copy of the example flash volume
// through the driver: every file it changes, and nothing else.
#include <filesystem>
#include <map>

#include "commands/remote_cmd_driver.h"
#include "tests/flash_fixture.h"
#include "xml/xml_loader.h"

namespace kvx {
namespace {

using namespace kvx::testing;
namespace fs = std::filesystem;

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = ReadFile(e.path().string());
  return files;
}

std::string Account(const std::string& name, const std::string& keyboard, const std::string& first,
                    const std::string& language) {
  return "[" + name + "]\r\nDataFolder=~:\\QUARLE.000\\" + name + "\\data\r\nPassword=\r\nUserImage=" +
         (name == "User" ? "user" : name) + ".png\r\nIndexFile=" + (name == "User" ? "user" : name) +
         ".idx\r\nFirstPageType=1\r\nKeyboardID=" + keyboard + "\r\nRestoreKeyboardID=00000409\r\nFirstTime=" +
         first + "\r\nPFLDR=~:\\QUARLE.000\\" + name + "\\pfldr\r\nLanguageID=" + language +
         "\r\nRestoreLanguageID=0409\r\n";
}

class ExampleVolumeTest : public FlashFixture {};

TEST_F(ExampleVolumeTest, TheExampleCommandsChangeWhatTheySay) {
  fs::copy(KVX_SOURCE_DIR "/examples/volume", volume_.path(), fs::copy_options::recursive);
  SetTime("QUARLE.000/mary/kvxaccount.ini", 1000);
  SetTime("QUARLE.000/john/kvxaccount.ini", 2000);
  SetTime("QUARLE.000/User/kvxaccount.ini", 3000);
  const std::string tool = machine_ / "tool";
  MakeDirs(tool);
  for (const char* name : {"QZRRemote", "KVXRemoteCmd.xsd", "QZRRemote.log", "readme.txt"})
    WriteFile(tool + "/" + name, name);
  process_.module = PathMap::ToWindows(tool + "/QZRRemote");
  const auto before = Snapshot(volume_.path());

  std::unique_ptr<XmlDocument> document;
  std::string report;
  XmlLoadContext load{*xml_, files_, debug_, strings_};
  ASSERT_TRUE(LoadAndValidateXml(load, document, PathMap::ToWindows(KVX_SOURCE_DIR "/examples/commands.xml"),
                                 PathMap::ToWindows(KVX_SOURCE_DIR "/xml/KVXRemoteCmd.xsd"), report))
      << report;
  ASSERT_TRUE(DoRemoteCmdFile(ctx_, *document));
  const auto after = Snapshot(volume_.path());

  std::vector<std::string> changed;
  for (const auto& [path, bytes] : after)
    if (!before.count(path) || before.at(path) != bytes) changed.push_back(path);
  for (const auto& [path, bytes] : before)
    if (!after.count(path)) changed.push_back("removed " + path);
  std::sort(changed.begin(), changed.end());
  EXPECT_EQ(changed, (std::vector<std::string>{
                         "QUARLE.000/User/.profile", "QUARLE.000/User/bookmarks.html",
                         "QUARLE.000/User/cmds/password.xml", "QUARLE.000/User/kvxaccount.ini",
                         "QUARLE.000/john/cmds/password.xml", "QUARLE.000/john/kvxaccount.ini",
                         "QUARLE.000/user/readme.txt", "QUARLE.SYS/cmds/password.xml",
                         "QUARLE.SYS/cmds/power.xml", "QUARLE.SYS/cmds/radio.xml", "kvxaccounts.ini",
                         "removed QUARLE.000/mary/kvxaccount.ini"}));

  const std::string switches =
      "MAIL=0\r\nWEB=1\r\nCHAT=0\r\nVOIP=1\r\nRDESKTOP=1\r\nICACLIENT=1\r\nVMWARE=1\r\nPHOTO=1\r\nMUSIC=1\r\n";
  EXPECT_EQ(after.at("QUARLE.000/User/kvxaccount.ini"),
            Utf8Marked(Account("User", "\"00000409\"", "1", "\"0409\"") + switches));
  EXPECT_EQ(after.at("QUARLE.000/john/kvxaccount.ini"),
            Utf8Marked(Account("john", "00000409", "0", "0409") + switches));
  EXPECT_EQ(after.at("kvxaccounts.ini"),
            Utf8Marked("[General]\r\nDefaultUser=User\r\nResolution=1024x768\r\nOutlookLanguage=0409\r\n" +
                       Account("john", "00000409", "0", "0409") + Account("User", "00000409", "1", "0409")));
  EXPECT_EQ(after.at("QUARLE.000/User/.profile"), before.at("QUARLE.SYS/persist/.profile"));
  EXPECT_EQ(after.at("QUARLE.000/user/readme.txt"), "readme.txt");
  const std::string frame =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<cmdstore xsi:type=\"cmdstoreType\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><cmd>";
  EXPECT_EQ(after.at("QUARLE.SYS/cmds/password.xml"),
            frame + "<configPassword minLength=\"8\" complexity=\"1\" expireDays=\"90\"/></cmd></cmdstore>\n");
  EXPECT_EQ(after.at("QUARLE.SYS/cmds/power.xml"),
            frame + "<configPower><ac standby=\"30\" hibernate=\"120\"/><dc standby=\"10\" "
                    "hibernate=\"60\"/><lid action=\"sleep\"/></configPower></cmd></cmdstore>\n");
  EXPECT_EQ(after.at("QUARLE.SYS/cmds/radio.xml"),
            frame + "<configRadio wlan=\"on\" bluetooth=\"off\" wwan=\"off\"/></cmd></cmdstore>\n");
  EXPECT_EQ(after.at("QUARLE.000/john/cmds/password.xml"),
            frame + "<singleUser action=\"changePassword\" user=\"john\"/></cmd></cmdstore>\n");
  EXPECT_EQ(flash_.calls.front(), "BeginFlash");
  EXPECT_EQ(flash_.calls.back(), "EndFlash");
}

}  // namespace
}  // namespace kvx
