#include "platform/posix/security_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/temp_dir.h"

namespace kvx {
namespace {

using testing::TempDir;
using testing::WriteFile;

TEST(AdminGroup, RootAndTheAdministrativeGroupsAreMembers) {
  AdminGroupState s = AdminGroupFromIds(0, 0, {"root"});
  EXPECT_TRUE(s.member);
  EXPECT_TRUE(s.enabled);
  for (const char* group : {"sudo", "wheel", "admin"}) {
    s = AdminGroupFromIds(1000, 1000, {"users", group});
    EXPECT_TRUE(s.member) << group;
    EXPECT_FALSE(s.enabled) << group;  // filtered until elevated
  }
  s = AdminGroupFromIds(1000, 1000, {"users", "adm", "sudoers"});
  EXPECT_FALSE(s.member);
  EXPECT_FALSE(s.enabled);
  // A set-user-id root program runs enabled.
  s = AdminGroupFromIds(1000, 0, {});
  EXPECT_TRUE(s.member);
  EXPECT_TRUE(s.enabled);
}

void MakeExecutable(const std::string& path) {
  WriteFile(path, "#!/bin/sh\n");
  chmod(path.c_str(), 0755);
}

TEST(ElevatedLaunch, GoesThroughSudoThenPkexecKeepingFolders) {
  TempDir a, b;
  MakeExecutable(a / "env");
  MakeExecutable(b / "pkexec");
  const std::string path = a.path() + ":" + b.path();
  std::vector<std::string> argv =
      ElevatedCommandLine(path, "/m f", "/work dir", "/bin dir/QZRRemote", "my commands.xml");
  ASSERT_EQ(argv.size(), 6u);
  EXPECT_EQ(argv[0], b / "pkexec");
  EXPECT_EQ(argv[1], a / "env");
  EXPECT_EQ(argv[2], "--chdir=/work dir");
  EXPECT_EQ(argv[3], "KVXPREFIX=/m f");
  EXPECT_EQ(argv[4], "/bin dir/QZRRemote");
  EXPECT_EQ(argv[5], "my commands.xml");  // one argument, spaces and all

  MakeExecutable(b / "sudo");
  argv = ElevatedCommandLine(path, "/m", "/w", "/x", "f.xml");
  ASSERT_EQ(argv.size(), 7u);
  EXPECT_EQ(argv[0], b / "sudo");
  EXPECT_EQ(argv[1], "--");
  EXPECT_EQ(argv[6], "f.xml");

  TempDir empty;
  EXPECT_TRUE(ElevatedCommandLine(empty.path(), "/m", "/w", "/x", "f.xml").empty());
}

}  // namespace
}  // namespace kvx
