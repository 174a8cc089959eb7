#include "platform/win32/process_win32.h"

#include <objbase.h>

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

std::string Win32Process::ModuleFileName() {
  wchar_t buf[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  // A path that filled the buffer was cut: no path rather than a wrong one.
  if (n == 0 || n >= MAX_PATH) return std::string();
  return Narrow(std::wstring_view(buf, n));
}

bool Win32Process::QueryVersion(bool extended, OsVersion& out) {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXW) : sizeof(OSVERSIONINFOW);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  // The version query of the systems the tool supports; what a manifest
  // without newer entries makes it report is what the tool acts on.
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
#pragma GCC diagnostic pop
  out.major = info.dwMajorVersion;
  out.minor = info.dwMinorVersion;
  out.build = info.dwBuildNumber;
  out.platform_id = info.dwPlatformId;
  return true;
}

bool Win32Process::IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  if (kernel32 == nullptr) return false;
  const auto query = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "IsWow64Process")));
  BOOL wow64 = FALSE;
  if (query == nullptr || !query(GetCurrentProcess(), &wow64)) return false;
  return wow64 != FALSE;
}

void Win32Process::ComInitialize() {
  if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) ++com_initialized_;
}

void Win32Process::ComUninitialize() {
  if (com_initialized_ == 0) return;
  --com_initialized_;
  CoUninitialize();
}

}  // namespace kvx
