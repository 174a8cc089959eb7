// Names found on the flash volume or on the PC are joined to folder paths
// by every operation that walks a folder. On POSIX a name may hold "\",
// which the path mapping reads as a separator: such a name must never be
// listed, or "x\..\..\john\kvxaccount.ini" in one account's folder would
// reach another account's file, or a folder outside the volume.
#include <sys/stat.h>
#include <unistd.h>

#include "commands/account_commands.h"
#include "flash/persistent_copy.h"
#include "platform/posix/file_system_posix.h"
#include "service/user_account_export.h"
#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

// The name that climbs two folders and lands on john's account file.
const std::string kClimbToJohn = "x\\..\\..\\john\\kvxaccount.ini";

TEST(EnumeratedNames, OnlyNamesWindowsCanHoldAreListed) {
  for (const char* bad : {"a\\b", "..\\x", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b",
                          "tab\there", "\x01", ".", "..",
                          // Device names, alone or before an extension, in any case.
                          "CON", "nul", "Aux.txt", "prn.tar.gz", "COM1", "com9.log", "LPT1",
                          "lPt9", "NUL .txt", "con "})
    EXPECT_FALSE(IsWindowsFileName(bad)) << bad;
  for (const char* good : {"a", ".profile", "a b", "Reisepläne 2026.txt", "...", "a.b.c", "~x",
                           "CONSOLE", "nul_", "x.con", "COM10", "COM0", "LPT", "com", "auxiliary.txt"})
    EXPECT_TRUE(IsWindowsFileName(good)) << good;

  TempDir machine, folder;
  PathMap paths(machine.path());
  RecordingDebug debug;
  PosixFileSystem files(paths, machine / "temp", &debug);
  WriteFile(folder / "good.txt", "g");
  WriteFile(folder / "a\\..\\b", "b");
  WriteFile(folder / "c:d", "c");
  MakeDirs(folder / "sub\\..");
  WriteFile(folder / "nul.txt", "n");
  std::vector<FindEntry> entries;
  ASSERT_TRUE(files.FindFiles("Z:" + folder.path() + "/*", entries));
  std::vector<std::string> names;
  for (const FindEntry& e : entries) names.push_back(e.name);
  // "." and ".." of a folder below a drive's root are listed, as Windows lists them.
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "good.txt"}));
  EXPECT_TRUE(debug.Has("FindFiles: skipped a name that Windows cannot hold: " + folder.path() +
                        "/a\\..\\b"));
  EXPECT_TRUE(debug.Has("FindFiles: skipped a name that Windows cannot hold: " + folder.path() +
                        "/nul.txt"));
}

class HostileNamesTest : public FlashFixture {
 protected:
  HostileNamesTest() {
    PutAccount("john", "[john]\r\nDataFolder=john\r\n");
    PutAccount("mary", "[mary]\r\nDataFolder=mary\r\n");
    john_ = Get("QUARLE.000/john/kvxaccount.ini");
  }
  std::string john_;
};

TEST_F(HostileNamesTest, DeletingAnAccountTouchesNothingOutsideItsFolder) {
  Put("QUARLE.000/mary/" + kClimbToJohn, "bait");
  // The name is passed over, so mary's folder stays, and the delete says so.
  EXPECT_FALSE(DoDeleteUserCmd(ctx_, "mary"));
  EXPECT_EQ(Get("QUARLE.000/john/kvxaccount.ini"), john_);
}

TEST_F(HostileNamesTest, AnAccountFolderThatIsALinkKeepsItsTarget) {
  const std::string outside = machine_ / "outside";
  MakeDirs(outside);
  WriteFile(outside + "/keep.txt", "keep");
  RemoveTree(Vol("QUARLE.000/mary"));
  ASSERT_EQ(symlink(outside.c_str(), Vol("QUARLE.000/mary").c_str()), 0);
  EXPECT_TRUE(DoDeleteUserCmd(ctx_, "mary"));
  EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep");
  struct stat st;
  EXPECT_NE(lstat(Vol("QUARLE.000/mary").c_str(), &st), 0);  // the link itself is gone
  // Handed the link directly, clearing leaves it and its target alone.
  ASSERT_EQ(symlink(outside.c_str(), Vol("QUARLE.000/mary").c_str()), 0);
  EXPECT_TRUE(ClearFolder(ctx_, "~:\\QUARLE.000\\mary"));
  EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep");
}

TEST_F(HostileNamesTest, CopyModeWritesOnlyIntoItsDestination) {
  const std::string pc = machine_ / "pc/a/b";
  MakeDirs(pc);
  Put("QUARLE.000/user/ok.txt", "ok");
  Put("QUARLE.000/user/..\\..\\escaped.txt", "bait");
  CopyPersistentData(ctx_, "Z:" + pc);
  EXPECT_EQ(ReadFile(pc + "/ok.txt"), "ok");
  EXPECT_NE(access((machine_ / "pc/escaped.txt").c_str(), F_OK), 0);
  EXPECT_NE(access((pc + "/..\\..\\escaped.txt").c_str(), F_OK), 0);
}

TEST_F(HostileNamesTest, TheCopyActionAndTheResetStayInTheAccount) {
  // The tool's folder on the PC, copied into the user subfolder.
  const std::string tool = machine_ / "tool";
  MakeDirs(tool);
  MakeDirs(Vol("QUARLE.000/user"));
  WriteFile(tool + "/..\\john\\kvxaccount.ini", "bait");
  process_.module = "Z:" + tool + "\\QZRRemote";
  DoCopyPersistentData(ctx_, "john");
  EXPECT_EQ(Get("QUARLE.000/john/kvxaccount.ini"), john_);
  // The persistent-settings folder, copied into an account's folder.
  Put("QUARLE.SYS/persist/..\\john\\kvxaccount.ini", "bait");
  Put("QUARLE.SYS/persist/fine.txt", "fine");
  DoResetUserCmd(ctx_, "mary");
  EXPECT_EQ(Get("QUARLE.000/mary/fine.txt"), "fine");
  EXPECT_EQ(Get("QUARLE.000/john/kvxaccount.ini").find("bait"), std::string::npos);
}

TEST_F(HostileNamesTest, AFolderNameThatClimbsIsNoAccount) {
  PutAccount("a\\..\\john", "[evil]\r\n");
  CUserAccountExport e(ctx_);
  e.ExportLocalAccountsLogonedEver("~:", "kvxaccount.ini", false);
  std::vector<std::string> names;
  for (const AccountEntry& a : e.accounts()) names.push_back(a.name);
  EXPECT_EQ(names, (std::vector<std::string>{"john", "mary"}));
}

}  // namespace
}  // namespace kvx
