// kvxprogress.exe against the progress mapping as the tool writes it.
#include <gtest/gtest.h>

#include <cstring>

#include "flash/persistent_copy.h"
#include "platform/win32/named_objects_win32.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
#include "tests/temp_dir.h"
#include "tests/win32_test_support.h"

namespace kvx {
namespace {

// What the watcher printed once it holds `text` (or after a while).
std::string OutputOnce(const std::string& path, const std::string& text) {
  std::string out;
  for (int i = 0; i < 1000; ++i) {
    out = testing::ReadFile(path);
    if (out.find(text) != std::string::npos) break;
    Sleep(10);
  }
  return out;
}

// The watcher creates the mapping, shows each percentage the tool
// publishes (UTF-16 digits, no NUL, never shorter) on a line of its own
// (a Windows text line, ended by CR LF) and ends at 100.
TEST(Win32Progress, ShowsThePublishedPercentagesUntilTheEnd) {
  testing::TempDir dir;
  ChildTest idle("Win32ProgressChild.Idle", "idle");  // the watched run
  ASSERT_TRUE(idle.started());
  ChildProcess watcher(BuildPath(KVX_PROGRESS_PATH),
                       {"--ready", dir / "ready", "--pid", std::to_string(idle.pid())},
                       dir / "out.txt");
  ASSERT_TRUE(watcher.started());
  const std::wstring ready = Wide(dir / "ready");
  for (int i = 0; i < 3000 && GetFileAttributesW(ready.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(10);

  Win32NamedObjects objects;
  std::unique_ptr<NamedMapping> mapping = objects.OpenFileMapping(kProgressMappingName);
  ASSERT_NE(mapping, nullptr) << "the watcher made no mapping";
  std::unique_ptr<MappingView> view = mapping->MapView(1024);
  ASSERT_NE(view, nullptr);
  std::memcpy(view->data(), u"33", 4);
  EXPECT_EQ(OutputOnce(dir / "out.txt", "33%\r\n"), "33%\r\n");
  std::memcpy(view->data(), u"66", 4);
  EXPECT_EQ(OutputOnce(dir / "out.txt", "66%\r\n"), "33%\r\n66%\r\n");
  std::memcpy(view->data(), u"100", 6);
  unsigned long code = 99;
  ASSERT_TRUE(watcher.Wait(30000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(testing::ReadFile(dir / "out.txt"), "33%\r\n66%\r\n100%\r\n");
}

// A run that ends before 100 ends the watcher with 1.
TEST(Win32Progress, EndsWithTheWatchedRun) {
  testing::TempDir dir;
  ChildTest idle("Win32ProgressChild.Idle", "idle");
  ASSERT_TRUE(idle.started());
  ChildProcess watcher(BuildPath(KVX_PROGRESS_PATH), {"--pid", std::to_string(idle.pid())},
                       dir / "out.txt");
  ASSERT_TRUE(watcher.started());
  unsigned long code = 99;
  EXPECT_FALSE(watcher.Wait(1000, &code));  // it watches while the run goes on
  idle.Kill();
  ASSERT_TRUE(watcher.Wait(30000, &code));
  EXPECT_EQ(code, 1u);
  // Bad arguments: 2, and nothing is watched.
  EXPECT_EQ(RunChild(BuildPath(KVX_PROGRESS_PATH), {"--bogus"}, 30000).exit_code, 2u);
}

// The child's part: a process that runs until it is ended.
TEST(Win32ProgressChild, Idle) {
  if (ChildRole() != "idle") GTEST_SKIP() << "run by the parent tests only";
  Sleep(60000);
}

}  // namespace
}  // namespace kvx
