// kvxprogress as a script uses it, with the tool's side played by the test.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/named_objects_posix.h"
#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;

void Publish(MappingView& view, const std::string& digits) {
  for (size_t i = 0; i < digits.size(); ++i) {
    view.data()[2 * i] = static_cast<unsigned char>(digits[i]);
    view.data()[2 * i + 1] = 0;
  }
}

TEST(KvxProgress, ShowsEachPercentageAndEndsAtOneHundred) {
  TempDir machine, out;
  const pid_t viewer = StartProgram({KVX_PROGRESS_PATH, "--ready", out / "ready"},
                                    {"KVXPREFIX=" + machine.path()}, "", out / "out");
  ASSERT_TRUE(WaitForFile(out / "ready", 20));
  PosixNamedObjects objects(machine / "objects");
  auto mapping = objects.OpenFileMapping("Global\\VeskQZRGlobalShareMemory");
  ASSERT_NE(mapping, nullptr);
  auto view = mapping->MapView(1024);
  ASSERT_NE(view, nullptr);
  for (const char* p : {"7", "42", "100"}) {
    Publish(*view, p);
    usleep(300 * 1000);
  }
  EXPECT_EQ(WaitProgram(viewer), 0);
  EXPECT_EQ(ReadFile(out / "out"), "7%\n42%\n100%\n");
}

TEST(KvxProgress, EndsWhenTheWatchedProcessEnds) {
  TempDir machine, out;
  const pid_t sleeper = StartProgram({"/bin/sleep", "0.3"}, {}, "", "");
  const pid_t viewer = StartProgram({KVX_PROGRESS_PATH, "--pid", std::to_string(sleeper)},
                                    {"KVXPREFIX=" + machine.path()}, "", out / "out");
  WaitProgram(sleeper);
  EXPECT_EQ(WaitProgram(viewer), 1);
  // Its mapping went with it.
  PosixNamedObjects objects(machine / "objects");
  EXPECT_EQ(objects.OpenFileMapping("Global\\VeskQZRGlobalShareMemory"), nullptr);
}

TEST(KvxProgress, Help) {
  RunResult r = RunProgram({KVX_PROGRESS_PATH, "--help"}, {}, "");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Usage: kvxprogress"), std::string::npos);
  EXPECT_EQ(RunProgram({KVX_PROGRESS_PATH, "--what"}, {}, "").exit_code, 2);
}

}  // namespace
}  // namespace kvx
