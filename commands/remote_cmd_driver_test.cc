#include "commands/remote_cmd_driver.h"

#include <stdexcept>

#include "commands/config_va.h"
#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

std::string Account(const std::string& name, const std::string& extra = "") {
  return "[" + name + "]\r\nLanguageID=0409\r\nRestoreKeyboardID=00000409\r\n"
         "RestoreLanguageID=0409\r\n" + extra;
}

class DriverTest : public FlashFixture {
 protected:
  DriverTest() {
    MakeDirs(Vol("QUARLE.SYS/persist"));
    Put("QUARLE.SYS/persist/.profile", "defaults");
    PutAccount("john", Account("john"));
    PutAccount("mary", Account("mary"));
    SetTime("QUARLE.000/john/kvxaccount.ini", 1000);
    SetTime("QUARLE.000/mary/kvxaccount.ini", 2000);
  }

  // Runs the driver on a command document given as text.
  bool Run(const std::string& commands) {
    WriteFile(machine_ / "c.xml", commands);
    document_ = xml_->CreateDocument(XmlClassVersion::k60);
    EXPECT_TRUE(document_->Load(machine_ / "c.xml")) << document_->ParseError().reason;
    return DoRemoteCmdFile(ctx_, *document_);
  }
  int Count(const std::string& line) const {
    return static_cast<int>(std::count(debug_.lines.begin(), debug_.lines.end(), line));
  }
  std::string Ini(const std::string& account) { return Get("QUARLE.000/" + account + "/kvxaccount.ini"); }

  std::unique_ptr<XmlDocument> document_;
};

TEST_F(DriverTest, ADocumentWithoutCommandsOpensAndClosesTheCycle) {
  EXPECT_TRUE(Run("<remoteCmd><unknown/></remoteCmd>"));
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "Export", "EndFlash"}));
  EXPECT_TRUE(debug_.Has("Before SingleUser or All User CMD, The accounts are john,mary, "));
  EXPECT_TRUE(debug_.Has("After SingleUser or All User CMD, The accounts are john,mary, "));
  EXPECT_TRUE(debug_.Has("GetUserFolderPathEx's path is ~:\\QUARLE.000"));
}

TEST_F(DriverTest, NoCycleOrNoUserFolderIsFailure) {
  flash_.begin_ok = false;
  EXPECT_FALSE(Run("<remoteCmd/>"));
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash"}));
  flash_.begin_ok = true;
  flash_.calls.clear();
  RemoveTree(Vol("QUARLE.000"));
  EXPECT_FALSE(Run("<remoteCmd/>"));
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "EndFlash"}));
  EXPECT_TRUE(debug_.Has("enter to !GetUserFolderPathEx(strUsersFolderPath)"));
}

TEST_F(DriverTest, OnlyTheLastSettingElementApplies) {
  EXPECT_TRUE(Run("<remoteCmd><configPower><ac a='1'/></configPower>"
                  "<configPower><dc b='2'/></configPower><configRadio wlan='off'/></remoteCmd>"));
  EXPECT_NE(Get("QUARLE.SYS/cmds/power.xml").find("<configPower><dc b=\"2\"/></configPower>"),
            std::string::npos);
  EXPECT_EQ(Get("QUARLE.SYS/cmds/power.xml").find("<ac"), std::string::npos);
  EXPECT_NE(Get("QUARLE.SYS/cmds/radio.xml").find("<configRadio wlan=\"off\"/>"), std::string::npos);
}

TEST_F(DriverTest, AllUserWorksOnTheListFromBeforeTheDeletions) {
  EXPECT_TRUE(Run("<remoteCmd><singleUser action='deleteUser' user='john'/>"
                  "<allUser action='resetUser'/><configVA><mail action='0'/></configVA></remoteCmd>"));
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.000\\john"), kInvalidAttributes);  // deleted
  EXPECT_TRUE(debug_.Has("The folder of john is ~:\\QUARLE.000\\john!"));  // reset all the same
  EXPECT_TRUE(debug_.Has("After SingleUser or All User CMD, The accounts are mary, "));
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.000\\john"), kInvalidAttributes);  // not recreated
  EXPECT_NE(Ini("mary").find("MAIL=0\r\n"), std::string::npos);
  EXPECT_EQ(Get("QUARLE.000/mary/.profile"), "defaults");
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "Export", "UsersName kvxaccount.ini",
                                                    "Export", "Export", "Export", "EndFlash"}));
  // The combined file was rebuilt after each kind of account command.
  EXPECT_EQ(Count(std::string(35, '=') + "Enter WriteAccountINIForRemote" + std::string(26, '=')), 2);
}

TEST_F(DriverTest, NamesNotOnTheFlashOrOfAnotherCaseAreSkipped) {
  const std::string before = Ini("john");
  EXPECT_TRUE(Run("<remoteCmd><singleUser action='resetUser' user='nobody'/>"
                  "<singleUser action='resetUser' user='JOHN'/>"
                  "<singleUser action='deleteUser' user='..\\mary'/>"
                  "<singleUser action='deleteUser' user='a/b'/></remoteCmd>"));
  EXPECT_TRUE(debug_.Has("The nobody account's action is resetUser"));
  EXPECT_TRUE(debug_.Has("The JOHN account's action is resetUser"));
  EXPECT_EQ(Count("The account is existed, and DoRemoteCmd"), 0);
  EXPECT_EQ(Ini("john"), before);
  EXPECT_NE(files_.GetAttributes("~:\\QUARLE.000\\mary"), kInvalidAttributes);
}

TEST_F(DriverTest, UnsupportedActionsShowTheMessageBox) {
  EXPECT_TRUE(Run("<remoteCmd><singleUser action='DeleteUser' user='john'/>"
                  "<singleUser action='CopyPersistentData' user='nobody'/>"
                  "<allUser action='copyPersistentData'/><allUser action='format'/></remoteCmd>"));
  EXPECT_EQ(message_box_.shown.size(), 4u);
  EXPECT_EQ(message_box_.shown[0], "Error: Cannot support the command.\n");
  EXPECT_NE(files_.GetAttributes("~:\\QUARLE.000\\john"), kInvalidAttributes);
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.000\\user"), kInvalidAttributes);  // nothing copied
}

TEST_F(DriverTest, RecordsCarryTheirActionAndUserOn) {
  EXPECT_TRUE(Run("<remoteCmd><allUser action='resetUser'/><allUser/>"
                  "<singleUser action='changePassword' user='mary'/><singleUser action='resetUser'/>"
                  "</remoteCmd>"));
  EXPECT_EQ(Count("The folder of john is ~:\\QUARLE.000\\john!"), 2);  // the first allUser twice
  EXPECT_EQ(Count("The folder of mary is ~:\\QUARLE.000\\mary!"), 3);  // and once more for mary
  EXPECT_EQ(Get("QUARLE.000/mary/cmds/password.xml"),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<cmdstore xsi:type=\"cmdstoreType\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><cmd><singleUser "
            "action=\"changePassword\" user=\"mary\"/></cmd></cmdstore>\n");
}

TEST_F(DriverTest, DeletingTheDefaultAccountResetsIt) {
  PutAccount("User", Account("User", "FirstTime=0\r\nMAIL=0\r\n"));
  // Listed only once used.
  EXPECT_TRUE(Run("<remoteCmd><singleUser action='deleteUser' user='USER'/></remoteCmd>"));
  EXPECT_FALSE(debug_.Has("DoDeleteUserCmd is starting..."));
  PutAccount("User", Account("User", "FirstTime=1\r\nMAIL=0\r\n"));
  flash_.calls.clear();
  EXPECT_TRUE(Run("<remoteCmd><singleUser action='deleteUser' user='user'/></remoteCmd>"));
  EXPECT_TRUE(debug_.Has("DoDeleteUserCmd is starting..."));
  EXPECT_NE(files_.GetAttributes("~:\\QUARLE.000\\User"), kInvalidAttributes);
  EXPECT_NE(Ini("User").find("[User]\r\nLanguageID=\"0409\""), std::string::npos) << Ini("User");
  EXPECT_NE(Ini("User").find("FirstTime=1\r\nMAIL=1\r\n"), std::string::npos) << Ini("User");
  // The reset's export, then the user list; no export of the deletion.
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "Export", "UsersName kvxaccount.ini",
                                                    "Export", "EndFlash"}));
}

TEST_F(DriverTest, AnEmptyListStillHandsOverTheUserNames) {
  RemoveTree(Vol("QUARLE.000/john"));
  RemoveTree(Vol("QUARLE.000/mary"));
  EXPECT_TRUE(Run("<remoteCmd><allUser action='deleteUser'/></remoteCmd>"));
  EXPECT_EQ(flash_.calls,
            (std::vector<std::string>{"BeginFlash", "UsersName kvxaccount.ini", "Export", "EndFlash"}));
}

// A document whose selections fail the way an error of the XML layer or a
// memory shortage would.
class FailingDocument : public XmlDocument {
 public:
  void SetSchemas(std::shared_ptr<XmlSchemaCache>) override {}
  void SetAsync(bool) override {}
  void SetValidateOnParse(bool) override {}
  void SetResolveExternals(bool) override {}
  void SetPreserveWhiteSpace(bool) override {}
  bool Load(const std::string&) override { return true; }
  XmlParseError ParseError() override { return {}; }
  std::unique_ptr<XmlNodeList> SelectNodes(const std::string&) override { throw std::bad_alloc(); }
  bool AppendProcessingInstruction(const std::string&, const std::string&) override { return false; }
  std::unique_ptr<XmlElement> CreateElement(const std::string&) override { return nullptr; }
  bool AppendChild(XmlElement&) override { return false; }
  bool Serialize(std::string&) override { return false; }
};

TEST_F(DriverTest, AnErrorMidwayStillClosesTheCycle) {
  FailingDocument document;
  EXPECT_FALSE(DoRemoteCmdFile(ctx_, document));
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "EndFlash"}));
}

class ConfigVATest : public DriverTest {
 protected:
  XMLNodeList Records(const std::string& children) {
    WriteFile(machine_ / "c.xml", "<remoteCmd><configVA>" + children + "</configVA></remoteCmd>");
    document_ = xml_->CreateDocument(XmlClassVersion::k60);
    EXPECT_TRUE(document_->Load(machine_ / "c.xml"));
    return SelectNodes(*document_, debug_, "(//configVA)");
  }
  std::string Switches(const std::string& account) {
    const std::string ini = Ini(account);
    const size_t at = ini.find("MAIL=");
    return at == std::string::npos ? "" : ini.substr(at);
  }
};

TEST_F(ConfigVATest, UnmentionedApplicationsAreGranted) {
  EXPECT_TRUE(ApplyConfigVA(ctx_, Records("<mail action='0'/><Web ACTION='FALSE'/>"), {"john", "mary"}));
  const std::string expected =
      "MAIL=0\r\nWEB=0\r\nCHAT=1\r\nVOIP=1\r\nRDESKTOP=1\r\nICACLIENT=1\r\nVMWARE=1\r\nPHOTO=1\r\nMUSIC=1\r\n";
  EXPECT_EQ(Switches("john"), expected);
  EXPECT_EQ(Switches("mary"), expected);
  EXPECT_TRUE(debug_.Has("The nConfigVA[1] = 0"));
}

TEST_F(ConfigVATest, SingleAccountMode) {
  EXPECT_TRUE(ApplyConfigVA(ctx_, Records("<singleuser user='john'/><music action='0'/>"), {"john", "mary"}));
  EXPECT_EQ(Switches("john"),
            "MAIL=1\r\nWEB=1\r\nCHAT=1\r\nVOIP=1\r\nRDESKTOP=1\r\nICACLIENT=1\r\nVMWARE=1\r\nPHOTO=1\r\nMUSIC=0\r\n");
  EXPECT_EQ(Switches("mary"), "");
  EXPECT_TRUE(debug_.Has("The singleuser name is john"));
  const std::string before = Ini("john");
  EXPECT_TRUE(ApplyConfigVA(ctx_, Records("<singleuser/><mail action='0'/>"), {"john", "mary"}));
  EXPECT_EQ(Ini("john"), before);  // nothing written
}

TEST_F(ConfigVATest, AUserAttributeAloneDoesNotSelectAnAccount) {
  EXPECT_TRUE(ApplyConfigVA(ctx_, Records("<mail action='0' user='john'/>"), {"john", "mary"}));
  EXPECT_EQ(Switches("mary").substr(0, 8), "MAIL=0\r\n");
}

TEST_F(ConfigVATest, AnUnknownChildActsOnThePreviousApplication) {
  EXPECT_TRUE(ApplyConfigVA(ctx_, Records("<photo action='1'/><camera action='0'/><music action='1'/>"
                                          "<music action='false'/>"),
                            {"mary"}));
  EXPECT_EQ(Switches("mary"),
            "MAIL=1\r\nWEB=1\r\nCHAT=1\r\nVOIP=1\r\nRDESKTOP=1\r\nICACLIENT=1\r\nVMWARE=1\r\nPHOTO=0\r\nMUSIC=0\r\n");
  EXPECT_TRUE(debug_.Has("Total node[4], current node[1], and the node name is [camera]"));
}

TEST_F(ConfigVATest, NoDataRootIsFailure) {
  RemoveTree(Vol("QUARLE.000"));
  EXPECT_FALSE(ApplyConfigVA(ctx_, Records("<mail action='0'/>"), {"john"}));
  EXPECT_TRUE(ApplyConfigVA(ctx_, Records("<mail action='0'/>"), {""}));  // empty names are skipped
}

}  // namespace
}  // namespace kvx
