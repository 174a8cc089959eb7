#include "tests/win32_test_support.h"

#include <cstdio>

#include "platform/win32/security_win32.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

namespace {

HANDLE Spawn(const std::wstring& program, const std::vector<std::string>& args,
             const std::string& output = "", unsigned long* pid = nullptr) {
  std::wstring line = QuoteCommandLineArgument(program);
  for (const std::string& a : args) line += L" " + QuoteCommandLineArgument(Wide(a));
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  HANDLE out = INVALID_HANDLE_VALUE;
  if (!output.empty()) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    out = CreateFileW(Wide(output).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return nullptr;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION pi = {};
  const BOOL ok = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr,
                                 out != INVALID_HANDLE_VALUE, 0, nullptr, nullptr, &si, &pi);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (!ok) return nullptr;
  CloseHandle(pi.hThread);
  if (pid) *pid = pi.dwProcessId;
  return pi.hProcess;
}

std::wstring ThisProgram() {
  wchar_t buf[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return std::wstring(buf, n);
}

}  // namespace

std::string BuildPath(const char* path) {
  std::string out = path;
  if (out.empty() || out[0] != '/') return out;
  for (char& c : out)
    if (c == '/') c = '\\';
  return "Z:" + out;
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     unsigned long wait_ms) {
  ChildResult r;
  const HANDLE process = Spawn(Wide(program), args);
  if (process == nullptr) return r;
  r.started = true;
  if (WaitForSingleObject(process, wait_ms) != WAIT_OBJECT_0) TerminateProcess(process, 255);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  r.exit_code = code;
  CloseHandle(process);
  return r;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& output) {
  process_ = Spawn(Wide(program), args, output, &pid_);
}

ChildProcess::~ChildProcess() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) Kill();
  CloseHandle(process_);
}

bool ChildProcess::Wait(unsigned long wait_ms, unsigned long* exit_code) {
  if (process_ == nullptr || WaitForSingleObject(process_, wait_ms) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  if (exit_code) *exit_code = code;
  return true;
}

void ChildProcess::Kill() {
  if (process_ == nullptr) return;
  TerminateProcess(process_, 255);
  WaitForSingleObject(process_, INFINITE);
}

namespace {

// This program, to be started with KVX_CHILD_ROLE set to `role` (set here,
// taken back once the child has started).
std::string ThisProgramAs(const std::string& role) {
  SetEnvironmentVariableW(L"KVX_CHILD_ROLE", Wide(role).c_str());
  return Narrow(ThisProgram());
}

}  // namespace

ChildTest::ChildTest(const std::string& filter, const std::string& role)
    : ChildProcess(ThisProgramAs(role), {"--gtest_filter=" + filter}) {
  SetEnvironmentVariableW(L"KVX_CHILD_ROLE", nullptr);
}

std::string ChildRole() {
  wchar_t buf[256];
  const DWORD n = GetEnvironmentVariableW(L"KVX_CHILD_ROLE", buf, 256);
  return n > 0 && n < 256 ? Narrow(std::wstring_view(buf, n)) : std::string();
}

}  // namespace kvx
