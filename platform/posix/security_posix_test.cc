#include "platform/posix/security_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(ElevatedLaunch, GoesThroughSudoThenPkexec) {
  TempDir a, b;
  MakeExecutable(b / "pkexec");
  const std::string path = a.path() + ":" + b.path();
  std::vector<std::string> argv =
      ElevatedCommandLine(path, "/m f", "/work dir", "/bin dir/QZRRemote", {"my commands.xml"});
  ASSERT_EQ(argv.size(), 9u);
  EXPECT_EQ(argv[0], b / "pkexec");
  EXPECT_EQ(argv[1], "/bin/sh");
  EXPECT_EQ(argv[2], "-c");
  EXPECT_EQ(argv[5], "/work dir");
  EXPECT_EQ(argv[6], "/m f");
  EXPECT_EQ(argv[7], "/bin dir/QZRRemote");
  EXPECT_EQ(argv[8], "my commands.xml");  // one argument, spaces and all

  MakeExecutable(b / "sudo");
  argv = ElevatedCommandLine(path, "/m", "/w", "/x", {"f.xml", "/json"});
  ASSERT_EQ(argv.size(), 11u);
  EXPECT_EQ(argv[0], b / "sudo");
  EXPECT_EQ(argv[1], "--");
  EXPECT_EQ(argv[9], "f.xml");
  EXPECT_EQ(argv[10], "/json");

  TempDir empty;
  EXPECT_TRUE(ElevatedCommandLine(empty.path(), "/m", "/w", "/x", {"f.xml"}).empty());
}

// Runs the relaunch's command line through a stand-in for sudo that runs
// what follows "--" unchanged, as sudo does for root, and returns what the
// program it ended in recorded: its folder, the machine folder and its
// arguments, one a line.
std::string RunRelaunch(const TempDir& root, const std::string& tool_folder,
                        const std::string& work_folder, const std::vector<std::string>& arguments) {
  const std::string launchers = root / "launchers";
  mkdir(launchers.c_str(), 0755);
  WriteFile(launchers + "/sudo", "#!/bin/sh\n[ \"$1\" = -- ] && shift\nexec \"$@\"\n");
  chmod((launchers + "/sudo").c_str(), 0755);
  const std::string record = root / "record";
  unlink(record.c_str());
  mkdir(tool_folder.c_str(), 0755);
  mkdir(work_folder.c_str(), 0755);
  const std::string tool = tool_folder + "/QZRRemote";
  WriteFile(tool, "#!/bin/sh\n{ pwd; printf '%s\\n' \"$KVXPREFIX\" \"$@\"; } > '" + record + "'\n");
  chmod(tool.c_str(), 0755);
  const std::vector<std::string> args =
      ElevatedCommandLine(launchers, "/machine folder", work_folder, tool, arguments);
  std::vector<char*> argv;
  for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return testing::ReadFile(record);
}

TEST(ElevatedLaunch, RunsTheToolAndNothingElseWhateverThePathsHold) {
  TempDir root;
  // A file argument that is itself a program: were it run, it would record this.
  const std::string trap = root / "trap.xml";
  WriteFile(trap, "#!/bin/sh\necho TRAP > '" + (root / "record") + "'\n");
  chmod(trap.c_str(), 0755);
  struct Case {
    std::string tool_folder, work_folder, parameter;
  };
  const std::vector<Case> cases = {
      {root / "a=b", root / "w", trap},                    // "=" made env take the tool for an assignment
      {root / "x=1 y", root / "w=2", trap},
      {root / "with space", root / "work folder", "my commands.xml"},
      {root / "-dash", root / "-w", "-c.xml"},             // leading "-" on every part
      {root / "q'uo\"te", root / "w'\"", "a\"b'c.xml"},  // quotes of both kinds
      {root / "semi;$(x)`y`", root / "w$HOME", "$(touch x).xml"},
  };
  for (const Case& c : cases) {
    const std::string got = RunRelaunch(root, c.tool_folder, c.work_folder, {c.parameter});
    EXPECT_EQ(got, c.work_folder + "\n/machine folder\n" + c.parameter + "\n") << c.tool_folder;
  }
  // Several arguments arrive as they were, each one argument, in order.
  const std::string got = RunRelaunch(root, root / "t", root / "w", {"/list", "a b", "-x", "$(y)"});
  EXPECT_EQ(got, (root / "w") + "\n/machine folder\n/list\na b\n-x\n$(y)\n");
}

}  // namespace
}  // namespace kvx
