#include "tests/win32_test_support.h"

#include <cstdio>

#include "platform/win32/file_system_win32.h"
#include "platform/win32/security_win32.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

namespace {

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = folder + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveTree(full);
      else
        DeleteFileW(full.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

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

Win32TempDir::Win32TempDir() {
  Win32FileSystem files;
  const std::string temp = files.TempFolder();
  for (unsigned i = 0; path_.empty() && i < 1000; ++i) {
    const std::string candidate =
        temp + "kvxtest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
    if (files.CreateDirectory(candidate)) path_ = candidate;
  }
}

Win32TempDir::~Win32TempDir() {
  if (!path_.empty()) RemoveTree(Wide(path_));
}

std::string ReadFileBytes(const std::string& path) {
  std::string out;
  if (std::FILE* f = _wfopen(Wide(path).c_str(), L"rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = _wfopen(Wide(path).c_str(), L"wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

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
