#include "commands/remote_cmd_driver.h"

#include <sys/stat.h>

#include <functional>
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

// What an interrupted run left beside any file goes with the next run that
// writes into its folder, whatever the name it writes there.
TEST_F(DriverTest, LeftoversGoWithTheNextWriteIntoTheirFolder) {
  const std::vector<std::string> leftovers = {"QUARLE.SYS/cmds/radio.xml.kvxtmp",
                                              "QUARLE.000/mary/bookmarks.html.kvxtmp",
                                              "QUARLE.000/john/cmds/power.xml.kvxtmp",
                                              "old.ini.kvxtmp"};
  for (const std::string& leftover : leftovers) Put(leftover, "half");
  Put("QUARLE.000/user/keep.kvxtmp", "nobody wrote here");
  EXPECT_TRUE(Run("<remoteCmd><singleUser action='changePassword' user='john'/>"
                  "<configVA><mail action='0'/></configVA><configPassword minLength='8'/></remoteCmd>"));
  for (const std::string& leftover : leftovers)
    EXPECT_EQ(files_.GetAttributes("~:\\" + leftover), kInvalidAttributes) << leftover;
  EXPECT_EQ(Get("QUARLE.000/user/keep.kvxtmp"), "nobody wrote here");
}

// A run on the volume through a file system with faults.
class FaultTest : public DriverTest {
 protected:
  FaultTest() {
    PutAccount("User", Account("User", "FirstTime=1\r\n"));
    tool_ = machine_ / "tool";
    MakeDirs(tool_);
    WriteFile(tool_ + "/QZRRemote", "tool");
    WriteFile(tool_ + "/readme.txt", "readme");
    process_.module = PathMap::ToWindows(tool_ + "/QZRRemote");
  }
  bool RunFaulty(const std::string& commands) {
    WriteFile(machine_ / "c.xml", "<remoteCmd>" + commands + "<configRadio wlan='on'/></remoteCmd>");
    document_ = xml_->CreateDocument(XmlClassVersion::k60);
    EXPECT_TRUE(document_->Load(machine_ / "c.xml"));
    return DoRemoteCmdFile(faulty_ctx_, *document_);
  }
  FaultyFiles faulty_{files_};
  ToolContext faulty_ctx_{faulty_,  debug_,       profile_,  *xml_,    state_,
                          flash_,   objects_,     message_box_, process_, strings_};
  std::string tool_;
};

// Every change asked for and not made fails the run, after the later steps
// (here the radio settings) have still run.
TEST_F(FaultTest, AChangeThatCouldNotBeMadeFailsTheRun) {
  struct Case {
    const char* name;
    std::string commands;
    std::function<void()> fault;
  };
  const std::string temp = files_.TempFolder();
  const std::vector<Case> cases = {
      {"configVA, full volume", "<configVA><mail action='0'/></configVA>", [&] { faulty_.full = "QUARLE.000"; }},
      {"resetUser, full volume", "<singleUser action='resetUser' user='john'/>",
       [&] { faulty_.full = "\\john\\"; }},
      {"deleteUser of User, full volume", "<singleUser action='deleteUser' user='User'/>",
       [&] { faulty_.full = "\\User\\"; }},
      {"combined file, full volume", "<singleUser action='resetUser' user='nobody'/>",
       [&] { faulty_.full = "kvxaccounts.ini"; }},
      {"combined file, full account folder", "<singleUser action='resetUser' user='nobody'/>",
       [&] { faulty_.full = "kvxaccount_unicode.ini"; }},
      {"changePassword, full volume", "<singleUser action='changePassword' user='john'/>",
       [&] { faulty_.full = "john\\cmds"; }},
      {"command store, full volume", "<configPower><ac standby='5'/></configPower>",
       [&] { faulty_.full = "power.xml"; }},
      {"copy action, full volume", "<singleUser action='copyPersistentData' user='x'/>",
       [&] { faulty_.full = "QUARLE.000\\user"; }},
      {"full temp folder", "<configVA><mail action='0'/></configVA>", [&] { faulty_.full = temp; }},
      {"read-only account file", "<configVA><mail action='0'/></configVA>",
       [&] { chmod(Vol("QUARLE.000/mary/kvxaccount.ini").c_str(), 0444); }},
      {"read-only command store", "<configPassword minLength='8'/>",
       [&] {
         Put("QUARLE.SYS/cmds/password.xml", "old");
         chmod(Vol("QUARLE.SYS/cmds/password.xml").c_str(), 0444);
       }},
      {"read-only user file", "<singleUser action='copyPersistentData' user='x'/>",
       [&] {
         Put("QUARLE.000/user/readme.txt", "old");
         chmod(Vol("QUARLE.000/user/readme.txt").c_str(), 0444);
       }},
      {"copy action from the user folder", "<singleUser action='copyPersistentData' user='x'/>",
       [&] {
         Put("QUARLE.000/user/QZRRemote", "tool");
         process_.module = PathMap::ToWindows(Vol("QUARLE.000/user/QZRRemote"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    faulty_.full.clear();
    RemoveTree(Vol("QUARLE.SYS/cmds"));
    c.fault();
    EXPECT_FALSE(RunFaulty(c.commands));
    EXPECT_TRUE(debug_.Has("A change the commands asked for could not be made."));
    EXPECT_NE(Get("QUARLE.SYS/cmds/radio.xml").find("wlan=\"on\""), std::string::npos);
    chmod(Vol("QUARLE.000/mary/kvxaccount.ini").c_str(), 0644);
    process_.module = PathMap::ToWindows(tool_ + "/QZRRemote");
    debug_.lines.clear();
  }
  // Nothing to act on is no failure: an account that does not exist, a
  // single account that is not named.
  EXPECT_TRUE(RunFaulty("<singleUser action='resetUser' user='nobody'/>"
                        "<configVA><singleuser/><mail action='0'/></configVA>"));
}

// A deleteUser cut short (here: nothing more can be deleted after a few
// entries) leaves john an account, and the next deleteUser finishes it.
TEST_F(FaultTest, AnInterruptedDeleteIsFinishedByTheNext) {
  for (int i = 0; i < 20; ++i) Put("QUARLE.000/john/pfldr/f" + std::to_string(i), "x");
  Put("QUARLE.000/john/zz.txt", "x");
  faulty_.deletions_left = 5;
  EXPECT_FALSE(RunFaulty("<singleUser action='deleteUser' user='john'/>"));
  EXPECT_NE(files_.GetAttributes("~:\\QUARLE.000\\john\\kvxaccount.ini"), kInvalidAttributes);
  faulty_.deletions_left = -1;
  EXPECT_TRUE(RunFaulty("<singleUser action='deleteUser' user='john'/>"));
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.000\\john"), kInvalidAttributes);
}

// An account whose file names a section that climbs out of the user folder
// is passed over; the others get their switches.
TEST_F(FaultTest, AHostileAccountDoesNotStopTheOthers) {
  PutAccount("aaa", "[..\\QUARLE.SYS]\r\nMAIL=1\r\n");
  SetTime("QUARLE.000/aaa/kvxaccount.ini", 500);
  EXPECT_TRUE(RunFaulty("<configVA><mail action='0'/></configVA>"));
  for (const char* account : {"john", "mary", "User"}) EXPECT_NE(Ini(account).find("MAIL=0"), std::string::npos) << account;
  EXPECT_TRUE(debug_.Has("The account ..\\QUARLE.SYS is passed over: its name could lead out of the "
                         "user folder."));
  EXPECT_EQ(Get("QUARLE.000/aaa/kvxaccount.ini"), Utf8Marked("[..\\QUARLE.SYS]\r\nMAIL=1\r\n"));
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
