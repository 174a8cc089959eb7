// What a hostile volume or PC folder may hold in the places the tool writes
// and reads: links beside the final names, links out of the folder worked
// in, pipes and device nodes. Nothing outside is written or read, nothing
// hangs, and every operation still ends.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <functional>

#include "app/path_resolution.h"
#include "commands/account_commands.h"
#include "flash/persistent_copy.h"
#include "service/account_ini.h"
#include "service/user_account_export.h"
#include "tests/flash_fixture.h"
#include "xml/command_store.h"

namespace kvx {
namespace {

using namespace kvx::testing;

bool IsRegularFile(const std::string& native) {
  struct stat st;
  return lstat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& native) {
  struct stat st;
  return lstat(native.c_str(), &st) == 0;
}

class ConfinementTest : public FlashFixture {
 protected:
  ConfinementTest() {
    PutAccount("john", "[john]\r\nMail=1\r\n");
    PutAccount("mary", "[mary]\r\nMail=1\r\n");
    MakeDirs(Vol("QUARLE.SYS/persist"));
    Put("QUARLE.SYS/persist/settings.dat", "persist");
    MakeDirs(outside_);
    WriteFile(outside_ + "/f", "outside");
    alarm(60);  // a run that waits for a pipe fails here instead of hanging
  }
  ~ConfinementTest() override { alarm(0); }

  void ConfigVA(const std::string& account) {
    const int flags[9] = {0, 1, 1, 1, 1, 1, 1, 1, 1};
    WriteAccessSettings(ctx_, "~:\\QUARLE.000\\" + account + "\\kvxaccount.ini", flags, account);
  }
  std::vector<std::string> Accounts() {
    CUserAccountExport e(ctx_);
    e.ExportLocalAccountsLogonedEver("~:", "kvxaccount.ini", true);
    std::vector<std::string> names;
    for (const AccountEntry& a : e.accounts()) names.push_back(a.name);
    return names;
  }

  const std::string outside_ = machine_ / "outside";
  const std::string temp_ = machine_ / "temp";
};

TEST_F(ConfinementTest, ALinkBesideTheFinalNameIsReplacedNeverFollowed) {
  XMLNode setting;
  setting.strNodeName = "configPassword";
  setting.vecAttribs.push_back(XMLAttrib{"8", "minLength", ""});
  const XMLNodeList password = {setting};
  struct Case {
    std::string beside;  // native, the link planted beside the final name
    std::function<void()> run;
  };
  const std::vector<Case> cases = {
      {Vol("QUARLE.000/john/kvxaccount.ini.kvxtmp"), [&] { ConfigVA("john"); }},
      {Vol("kvxaccounts.ini.kvxtmp"), [&] { WriteAccountINIForRemote(ctx_); }},
      {Vol("QUARLE.000/john/kvxaccount_unicode.ini.kvxtmp"), [&] { WriteAccountINIForRemote(ctx_); }},
      {Vol("QUARLE.SYS/cmds/password.xml.kvxtmp"), [&] { ApplyConfigPassword(ctx_, password); }},
      {Vol("QUARLE.000/john/cmds/password.xml.kvxtmp"), [&] { DoChangePasswordCmd(ctx_, "john"); }},
      {temp_ + "/kvxaccount.ini.kvxtmp", [&] { ConfigVA("mary"); }},
  };
  MakeDirs(Vol("QUARLE.SYS/cmds"));
  MakeDirs(Vol("QUARLE.000/john/cmds"));
  MakeDirs(temp_);
  for (const Case& c : cases) {
    ASSERT_EQ(symlink((outside_ + "/f").c_str(), c.beside.c_str()), 0) << c.beside;
    c.run();
    EXPECT_EQ(ReadFile(outside_ + "/f"), "outside") << c.beside;
    const std::string final_name = c.beside.substr(0, c.beside.size() - 7);
    if (Exists(final_name)) {
      EXPECT_TRUE(IsRegularFile(final_name)) << final_name;
    }
    EXPECT_FALSE(Exists(c.beside)) << c.beside;
  }
  EXPECT_NE(Get("QUARLE.000/john/kvxaccount.ini").find("Mail=0"), std::string::npos);
  EXPECT_NE(Get("QUARLE.SYS/cmds/password.xml").find("minLength=\"8\""), std::string::npos);
}

TEST_F(ConfinementTest, NothingIsReadOrWrittenThroughALinkOutOfItsFolder) {
  // john's folder is a link to a folder outside the volume holding an
  // account file of its own.
  WriteFile(outside_ + "/kvxaccount.ini", Utf8Marked("[john]\r\nMail=1\r\n"));
  RemoveTree(Vol("QUARLE.000/john"));
  ASSERT_EQ(symlink(outside_.c_str(), Vol("QUARLE.000/john").c_str()), 0);
  DoResetUserCmd(ctx_, "john");
  DoChangePasswordCmd(ctx_, "john");
  ConfigVA("john");
  EXPECT_EQ(ReadFile(outside_ + "/kvxaccount.ini"), Utf8Marked("[john]\r\nMail=1\r\n"));
  EXPECT_FALSE(Exists(outside_ + "/settings.dat"));
  EXPECT_FALSE(Exists(outside_ + "/cmds"));
  EXPECT_EQ(Accounts(), (std::vector<std::string>{"mary"}));
  EXPECT_TRUE(debug_.Has("~:\\QUARLE.000\\john leads out of ~:\\QUARLE.000 and is passed over."));

  // A folder that is not there holds nothing to refuse: its account file
  // is missing, which is no failure.
  const int flags[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_TRUE(WriteAccessSettings(ctx_, "~:\\QUARLE.000\\ghost\\kvxaccount.ini", flags, "ghost"));

  // mary's cmds folder is a link out of her folder.
  ASSERT_EQ(symlink(outside_.c_str(), Vol("QUARLE.000/mary/cmds").c_str()), 0);
  EXPECT_FALSE(DoChangePasswordCmd(ctx_, "mary"));
  EXPECT_FALSE(Exists(outside_ + "/password.xml"));

  // A file of the user subfolder that links outside is not copied to the PC;
  // one that links to a file beside it is.
  const std::string pc = machine_ / "pc";
  MakeDirs(pc);
  Put("QUARLE.000/user/ok.txt", "ok");
  symlink((outside_ + "/f").c_str(), Vol("QUARLE.000/user/innocent.txt").c_str());
  symlink("ok.txt", Vol("QUARLE.000/user/alias.txt").c_str());
  EXPECT_TRUE(CopyPersistentData(ctx_, "Z:" + pc));
  EXPECT_EQ(ReadFile(pc + "/ok.txt"), "ok");
  EXPECT_EQ(ReadFile(pc + "/alias.txt"), "ok");
  EXPECT_FALSE(Exists(pc + "/innocent.txt"));
  EXPECT_TRUE(debug_.Has("~:\\QUARLE.000\\user\\innocent.txt leads out of ~:\\QUARLE.000\\user\\ and "
                         "is passed over."));
}

TEST_F(ConfinementTest, ARootThatLinksOutOfTheVolumeIsNoRoot) {
  // The data root itself a link to a folder outside, holding an account.
  MakeDirs(outside_ + "/data/eve");
  WriteFile(outside_ + "/data/eve/kvxaccount.ini", Utf8Marked("[eve]\r\nMail=1\r\n"));
  RemoveTree(Vol("QUARLE.000"));
  ASSERT_EQ(symlink((outside_ + "/data").c_str(), Vol("QUARLE.000").c_str()), 0);
  std::string root;
  EXPECT_FALSE(GetUserFolderPathEx(ctx_, root));
  EXPECT_FALSE(DoResetUserCmd(ctx_, "eve"));
  EXPECT_FALSE(DoChangePasswordCmd(ctx_, "eve"));
  EXPECT_EQ(ReadFile(outside_ + "/data/eve/kvxaccount.ini"), Utf8Marked("[eve]\r\nMail=1\r\n"));
  EXPECT_TRUE(debug_.Has("~:\\QUARLE.000 leads out of ~: and is passed over."));
  // An index file that links out of the volume is not read.
  ASSERT_EQ(symlink((outside_ + "/f").c_str(), Vol("quarle.idx").c_str()), 0);
  EXPECT_FALSE(GetRootPathEx(ctx_, root));
  EXPECT_TRUE(debug_.Has("~:\\quarle.idx leads out of ~:\\ and is passed over."));
}

TEST_F(ConfinementTest, PipesAndDevicesArePassedOverAndNothingHangs) {
  const std::string pc = machine_ / "pc", tool = machine_ / "tool";
  MakeDirs(pc);
  MakeDirs(tool);
  MakeDirs(temp_);
  process_.module = "Z:" + tool + "\\QZRRemote";
  Put("QUARLE.000/user/ok.txt", "ok");
  WriteFile(tool + "/tool.dat", "tool");
  for (const std::string& pipe :
       {Vol("QUARLE.000/user/pipe"), Vol("QUARLE.000/mary/kvxaccount.ini.kvxtmp"),
        Vol("QUARLE.SYS/persist/pipe"), tool + "/pipe"})
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0) << pipe;
  // A device node, where this run may make one.
  const bool device = mknod(Vol("QUARLE.000/user/zero").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0;

  EXPECT_TRUE(CopyPersistentData(ctx_, "Z:" + pc));
  EXPECT_EQ(flash_.calls.back(), "EndFlash");
  EXPECT_EQ(ReadFile(pc + "/ok.txt"), "ok");
  EXPECT_FALSE(Exists(pc + "/pipe"));
  EXPECT_FALSE(Exists(pc + "/zero"));
  EXPECT_TRUE(debug_.Has("~:\\QUARLE.000\\user\\pipe is not a regular file and is passed over."));
  if (device) {
    EXPECT_TRUE(debug_.Has("~:\\QUARLE.000\\user\\zero is not a regular file and is passed over."));
  }

  EXPECT_TRUE(DoCopyPersistentData(ctx_, "john"));
  EXPECT_EQ(Get("QUARLE.000/user/tool.dat"), "tool");
  EXPECT_TRUE(DoResetUserCmd(ctx_, "john"));
  EXPECT_EQ(Get("QUARLE.000/john/settings.dat"), "persist");
  EXPECT_FALSE(Exists(Vol("QUARLE.000/john/pipe")));
  ConfigVA("mary");
  EXPECT_NE(Get("QUARLE.000/mary/kvxaccount.ini").find("Mail=0"), std::string::npos);

  // An account file that is a pipe is no account, and is not edited.
  unlink(Vol("QUARLE.000/john/kvxaccount.ini").c_str());
  ASSERT_EQ(mkfifo(Vol("QUARLE.000/john/kvxaccount.ini").c_str(), 0644), 0);
  EXPECT_EQ(Accounts(), (std::vector<std::string>{"mary"}));
  ConfigVA("john");
  EXPECT_TRUE(WriteAccountINIForRemote(ctx_));
}

}  // namespace
}  // namespace kvx
