#include "platform/win32/debug_output_win32.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
#include "tests/temp_dir.h"
#include "tests/win32_test_support.h"

namespace kvx {
namespace {

// A kvxdbgview.exe attached to the debugger output for the test's time.
class Viewer {
 public:
  explicit Viewer(const testing::TempDir& dir) : output_(dir / "view.txt"), ready_(dir / "ready") {
    const std::wstring line =
        L"kvxdbgview.exe --ready \"" + Wide(ready_) + L"\" --output \"" + Wide(output_) + L"\"";
    std::wstring mutable_line = line;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(Wide(BuildPath(KVX_DBGVIEW_PATH)).c_str(), mutable_line.data(), nullptr,
                       nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      CloseHandle(pi.hThread);
      process_ = pi.hProcess;
    }
  }
  ~Viewer() {
    if (process_ == nullptr) return;
    TerminateProcess(process_, 0);
    WaitForSingleObject(process_, INFINITE);
    CloseHandle(process_);
  }
  // Waits until the viewer listens; false when it ended or never did.
  bool Ready() {
    for (int i = 0; i < 3000 && process_ != nullptr; ++i) {
      if (GetFileAttributesW(Wide(ready_).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
      if (WaitForSingleObject(process_, 10) == WAIT_OBJECT_0) return false;
    }
    return false;
  }
  // What the viewer wrote once it holds `lines` lines (or after a while).
  std::string Output(size_t lines) {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
      text = testing::ReadFile(output_);
      if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) break;
      Sleep(10);
    }
    return text;
  }

 private:
  std::string output_, ready_;
  HANDLE process_ = nullptr;
};

// The layer's messages, read back by the viewer through the system's
// debugger output stream: one line each, in UTF-8, a line end at the end
// of a message dropped; the narrow history line in the ANSI code page
// comes out as the same text.
TEST(Win32DebugOutput, MessagesReachTheViewer) {
  testing::TempDir dir;
  Viewer viewer(dir);
  ASSERT_TRUE(viewer.Ready());

  // A second viewer finds the stream taken.
  const ChildResult second = RunChild(BuildPath(KVX_DBGVIEW_PATH), {}, 30000);
  ASSERT_TRUE(second.started);
  EXPECT_EQ(second.exit_code, 2u);

  Win32DebugOutput debug;
  debug.Write("Before create VeskQZRGlobalMutex.");
  debug.Write("The Second CMD Line is C:\\Temp\\a b.xml");
  debug.Write("2026-12-08 10:00, , line\n");
  // A character every ANSI code page carries, sent as UTF-8 and as the
  // code page's own bytes.
  char narrow[8] = {};
  WideCharToMultiByte(CP_ACP, 0, L"\x00e9", 1, narrow, sizeof narrow, nullptr, nullptr);
  const bool acp_has_e_acute = narrow[0] != '?' && narrow[0] != 0;
  debug.Write("caf\xC3\xA9");
  debug.Write(std::string("caf") + narrow);

  const std::string text = viewer.Output(5);
  std::string expected =
      "Before create VeskQZRGlobalMutex.\n"
      "The Second CMD Line is C:\\Temp\\a b.xml\n"
      "2026-12-08 10:00, , line\n";
  if (acp_has_e_acute) expected += "caf\xC3\xA9\ncaf\xC3\xA9\n";
  if (acp_has_e_acute) {
    EXPECT_EQ(text, expected);
  } else {
    EXPECT_EQ(text.substr(0, expected.size()), expected);
  }
}

}  // namespace
}  // namespace kvx
