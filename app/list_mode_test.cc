#include "app/list_mode.h"

#include <filesystem>
#include <map>

#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;
namespace fs = std::filesystem;

// Every file of a folder tree with its bytes, and every folder.
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root))
    tree[fs::relative(e.path(), root).string()] = e.is_regular_file() ? ReadFile(e.path().string()) : "/";
  return tree;
}

class ListTest : public FlashFixture {
 protected:
  ListTest() {
    MakeDirs(Vol("QUARLE.SYS"));
    PutAccount("User", "[User]\r\nFirstTime=1\r\nMAIL=1\r\nWEB=0\r\nCHAT=1\r\nVOIP=1\r\nRDESKTOP=1\r\n"
                       "ICACLIENT=1\r\nVMWARE=1\r\nPHOTO=1\r\nMUSIC=0\r\n");
    // No first-start mark and only some switches: what is missing is shown
    // as missing, not as a default. The name is the section's.
    PutAccount("oneil", "[o\"neil]\r\nMAIL=0\r\nWEB=yes\r\n");
    SetTime("QUARLE.000/User/kvxaccount.ini", 1000);
    SetTime("QUARLE.000/oneil/kvxaccount.ini", 2000);
    MakeDirs(Vol("QUARLE.000/user"));  // the user folder: no account
  }
  std::string Text() { return ListingText(strings_, ReadModuleListing(ctx_)); }
};

TEST_F(ListTest, AccountsWithTheirMarkAndSwitchesAsTheFilesHoldThem) {
  EXPECT_EQ(Text(),
            "Roots: flash ~:, data ~:\\QUARLE.000, system ~:\\QUARLE.SYS\n"
            "Accounts: 2; default account: o\"neil\n"
            "  User: first-start mark 1; mail on, web off, chat on, voip on, rdesktop on, icaclient on, "
            "vmware on, photo on, music off\n"
            "  o\"neil: first-start mark none; mail off, web off, chat none, voip none, rdesktop none, "
            "icaclient none, vmware none, photo none, music none\n"
            "Waiting for the flash system's next start:\n"
            "  none\n");
}

TEST_F(ListTest, CommandStoresWaitingAndOneThatDoesNotLoad) {
  Put("QUARLE.SYS/cmds/power.xml",
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><cmdstore><cmd><configPower><ac standby=\"30\"/>"
      "<dc standby=\"10\" hibernate=\"60\"/></configPower></cmd></cmdstore>");
  Put("QUARLE.SYS/cmds/radio.xml", "<cmdstore><cmd><configRadio wlan=\"on\"");
  Put("QUARLE.000/User/cmds/password.xml",
      "<cmdstore><cmd><singleUser action=\"changePassword\" user=\"User\"/></cmd></cmdstore>");
  const auto before = Tree(volume_.path());
  const ModuleListing l = ReadModuleListing(ctx_);
  EXPECT_EQ(Tree(volume_.path()), before);  // read, never written
  EXPECT_FALSE(l.password.present);
  ASSERT_TRUE(l.power.readable);
  ASSERT_EQ(l.power.settings.size(), 2u);
  EXPECT_EQ(l.power.settings[1].strNodeName, "dc");
  EXPECT_TRUE(l.radio.present);
  EXPECT_FALSE(l.radio.readable);
  ASSERT_EQ(l.password_changes.size(), 1u);
  EXPECT_EQ(l.password_changes[0].first, "User");
  EXPECT_EQ(ListingText(strings_, l).substr(Text().find("Waiting")),
            "Waiting for the flash system's next start:\n"
            "  power settings: ac standby=\"30\"; dc standby=\"10\" hibernate=\"60\"\n"
            "  ~:\\QUARLE.SYS\\cmds\\radio.xml cannot be read\n"
            "  password change for account User\n");
  EXPECT_EQ(ListingJson(l),
            "{\n"
            "  \"roots\": {\"flash\": \"~:\", \"data\": \"~:\\\\QUARLE.000\", \"system\": \"~:\\\\QUARLE.SYS\"},\n"
            "  \"defaultAccount\": \"o\\\"neil\",\n"
            "  \"accounts\": [\n"
            "    {\"name\": \"User\", \"default\": false, \"readable\": true, \"firstTime\": \"1\",\n"
            "     \"applications\": {\"mail\": 1, \"web\": 0, \"chat\": 1, \"voip\": 1, \"rdesktop\": 1, "
            "\"icaclient\": 1, \"vmware\": 1, \"photo\": 1, \"music\": 0}},\n"
            "    {\"name\": \"o\\\"neil\", \"default\": true, \"readable\": true, \"firstTime\": null,\n"
            "     \"applications\": {\"mail\": 0, \"web\": 0, \"chat\": null, \"voip\": null, \"rdesktop\": null, "
            "\"icaclient\": null, \"vmware\": null, \"photo\": null, \"music\": null}}\n"
            "  ],\n"
            "  \"commandStores\": {\n"
            "    \"password\": null,\n"
            "    \"power\": {\"file\": \"~:\\\\QUARLE.SYS\\\\cmds\\\\power.xml\", \"readable\": true, \"settings\": [\n"
            "      {\"name\": \"ac\", \"attributes\": {\"standby\": \"30\"}},\n"
            "      {\"name\": \"dc\", \"attributes\": {\"standby\": \"10\", \"hibernate\": \"60\"}}\n"
            "    ]},\n"
            "    \"radio\": {\"file\": \"~:\\\\QUARLE.SYS\\\\cmds\\\\radio.xml\", \"readable\": false, \"settings\": []},\n"
            "    \"passwordChanges\": [\n"
            "      {\"account\": \"User\", \"request\": {\"file\": \"~:\\\\QUARLE.000\\\\User\\\\cmds\\\\password.xml\", "
            "\"readable\": true, \"settings\": [\n"
            "        {\"name\": \"singleUser\", \"attributes\": {\"action\": \"changePassword\", \"user\": \"User\"}}\n"
            "      ]}}\n"
            "    ]\n"
            "  }\n"
            "}\n");
}

TEST_F(ListTest, AVolumeWithoutRootsOrAccounts) {
  RemoveTree(Vol("QUARLE.000"));
  RemoveTree(Vol("QUARLE.SYS"));
  EXPECT_EQ(Text(),
            "Roots: flash ~:, data none, system none\n"
            "Accounts: 0; default account: none\n"
            "Waiting for the flash system's next start:\n"
            "  none\n");
}

TEST_F(ListTest, TheCycleIsOpenedAndClosedWithoutAnExport) {
  std::string out;
  ASSERT_TRUE(ListFlashModule(ctx_, true, out));
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "EndFlash"}));
  EXPECT_EQ(out.rfind("{\n  \"roots\": ", 0), 0u) << out;
  flash_.calls.clear();
  flash_.begin_ok = false;
  out = "untouched";
  EXPECT_FALSE(ListFlashModule(ctx_, false, out));
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash"}));
}

}  // namespace
}  // namespace kvx
