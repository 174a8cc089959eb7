// The administrative steps of kvxwine.exe: what kvxemu asks of the Wine side
// when it sets the machine up and when a knob changes a service, the
// driver's file or the registry. Each step is one short program run: exit
// 0 when done, one line on standard error and exit 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

#include "emulator/wine/kvxwine.h"
#include "emulator/wine/wine_machine.h"
#include "platform/win32/wide_text.h"

namespace kvx::wine {

namespace {

constexpr wchar_t kDriverService[] = L"KVXIO";
constexpr wchar_t kDriverImagePath[] = L"\\SystemRoot\\System32\\drivers\\kvxio.sys";
constexpr wchar_t kCompanionService[] = L"KvxMDES";
constexpr wchar_t kCompanionDisplayName[] = L"KVX flash module service";
constexpr wchar_t kWbemLocatorClsidKey[] =
    L"Software\\Classes\\CLSID\\{4590f811-1d3a-11d0-891f-00aa004b2e24}\\InprocServer32";
constexpr wchar_t kConnectSoundKey[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect\\.Current";
constexpr wchar_t kDisconnectSoundKey[] = L"AppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect\\.Current";
constexpr wchar_t kConnectSound[] = L"C:\\Windows\\media\\Windows Hardware Insert.wav";
constexpr wchar_t kDisconnectSound[] = L"C:\\Windows\\media\\Windows Hardware Remove.wav";
// How long a service gets to reach the state a step asks for.
constexpr DWORD kStateWaitMs = 20000;

// A step's failure: the line for standard error. Empty when it went well.
using Failure = std::wstring;

Failure Fail(std::wstring_view what, DWORD error) {
  return std::wstring(what) + L" (error " + std::to_wstring(error) + L")";
}

// The usage line of every step.
constexpr wchar_t kUsage[] =
    L"usage: kvxwine install DRIVER_SYS SERVICE_EXE WMI_DLL WMI32_DLL PHYSMEM_NT SMBIOS_DMI_WIN | "
    L"service NAME start|stop|pause|continue|delete|create | control NAME CODE | status NAME | "
    L"registry | remove-driver-file";

class Handle {
 public:
  explicit Handle(SC_HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr) CloseServiceHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void reset(SC_HANDLE h) {
    if (h_ != nullptr) CloseServiceHandle(h_);
    h_ = h;
  }

 private:
  SC_HANDLE h_;
};

class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_ != nullptr) RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

std::wstring SystemFolder() {
  wchar_t buffer[MAX_PATH];
  const UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring(L"C:\\windows\\system32");
}

std::wstring DriverFile() { return SystemFolder() + L"\\drivers\\kvxio.sys"; }

std::wstring CompanionFolder() {
  wchar_t buffer[MAX_PATH];
  const DWORD n = ExpandEnvironmentStringsW(L"%ProgramFiles%", buffer, MAX_PATH);
  const std::wstring root =
      n > 1 && n <= MAX_PATH && buffer[0] != L'%' ? std::wstring(buffer) : std::wstring(L"C:\\Program Files");
  return root + L"\\KVX";
}

std::wstring CompanionFile() { return CompanionFolder() + L"\\KvxMDES.exe"; }

std::wstring FullPath(const wchar_t* path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetFullPathNameW(path, MAX_PATH, buffer, nullptr);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring(path);
}

bool IsPlainFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Copies `from` beside `to` and renames the copy over it, so `to` is never
// seen half written.
Failure CopyInPlace(const std::wstring& from, const std::wstring& to) {
  if (!IsPlainFile(from)) return Fail(L"no such file: " + from, ERROR_FILE_NOT_FOUND);
  const std::wstring temp = to + L".new";
  if (!CopyFileW(from.c_str(), temp.c_str(), FALSE)) return Fail(L"cannot copy " + from + L" to " + temp, GetLastError());
  if (!MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = GetLastError();
    DeleteFileW(temp.c_str());
    return Fail(L"cannot put " + to + L" in place", error);
  }
  return {};
}

// Sets a REG_SZ in the registry view `view` (0: this program's own, the
// 64-bit one; KEY_WOW64_32KEY: what 32-bit programs read).
Failure SetString(HKEY root, const wchar_t* key_path, const wchar_t* name, const std::wstring& value,
                  REGSAM view = 0) {
  Key key;
  LSTATUS status =
      RegCreateKeyExW(root, key_path, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.out(), nullptr);
  if (status != ERROR_SUCCESS) return Fail(std::wstring(L"cannot create the key ") + key_path, status);
  status = RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) return Fail(std::wstring(L"cannot set a value under ") + key_path, status);
  return {};
}

const wchar_t* StateWord(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return L"stopped";
    case SERVICE_START_PENDING: return L"start pending";
    case SERVICE_STOP_PENDING: return L"stop pending";
    case SERVICE_RUNNING: return L"running";
    case SERVICE_CONTINUE_PENDING: return L"continue pending";
    case SERVICE_PAUSE_PENDING: return L"pause pending";
    case SERVICE_PAUSED: return L"paused";
    default: return L"unknown";
  }
}

// Waits until the service is in `state`; false when it settles in another
// state or the time runs out. `error` gets the service's exit code when it
// stopped on its own, or ERROR_TIMEOUT.
bool WaitForState(SC_HANDLE service, DWORD state, DWORD& error) {
  const DWORD start = GetTickCount();
  for (;;) {
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status)) {
      error = GetLastError();
      return false;
    }
    if (status.dwCurrentState == state) return true;
    if (status.dwCurrentState == SERVICE_STOPPED && state != SERVICE_STOPPED) {
      error = status.dwWin32ExitCode != NO_ERROR ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
      return false;
    }
    if (GetTickCount() - start > kStateWaitMs) {
      error = ERROR_TIMEOUT;
      return false;
    }
    Sleep(50);
  }
}

Failure StartAndWait(SC_HANDLE manager, const wchar_t* name) {
  Handle service(OpenServiceW(manager, name, SERVICE_START | SERVICE_QUERY_STATUS));
  if (!service) return Fail(std::wstring(L"cannot open the service ") + name, GetLastError());
  if (!StartServiceW(service.get(), 0, nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) return Fail(std::wstring(L"cannot start the service ") + name, error);
    // A paused service is already started: it runs again on a continue.
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_PAUSED) {
      Handle controllable(OpenServiceW(manager, name, SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS));
      if (!controllable || !ControlService(controllable.get(), SERVICE_CONTROL_CONTINUE, &status)) {
        return Fail(std::wstring(L"cannot continue the service ") + name, GetLastError());
      }
    }
  }
  DWORD error = 0;
  if (!WaitForState(service.get(), SERVICE_RUNNING, error)) {
    return Fail(std::wstring(L"the service ") + name + L" did not come to run", error);
  }
  return {};
}

// Sends `control` unless the service is already in `target`, then waits
// for `target`. A stopped service is left stopped for a stop, and is an
// error for a pause or continue.
Failure ControlAndWait(SC_HANDLE service, const wchar_t* name, DWORD control, DWORD target) {
  SERVICE_STATUS status = {};
  // A service on its way between states takes no control: let it arrive.
  const DWORD start = GetTickCount();
  for (;;) {
    if (!QueryServiceStatus(service, &status)) return Fail(std::wstring(L"cannot query the service ") + name, GetLastError());
    const DWORD s = status.dwCurrentState;
    if (s == SERVICE_STOPPED || s == SERVICE_RUNNING || s == SERVICE_PAUSED) break;
    if (GetTickCount() - start > kStateWaitMs) {
      return Fail(std::wstring(L"the service ") + name + L" stayed " + StateWord(s), ERROR_TIMEOUT);
    }
    Sleep(50);
  }
  if (status.dwCurrentState == target) return {};
  if (!ControlService(service, control, &status)) {
    return Fail(std::wstring(L"the service ") + name + L" refused the control " + std::to_wstring(control),
                GetLastError());
  }
  DWORD error = 0;
  if (!WaitForState(service, target, error)) {
    return Fail(std::wstring(L"the service ") + name + L" did not reach the state " + StateWord(target), error);
  }
  return {};
}

// Creates the service, or sets an existing one back to these settings.
Failure CreateOrSet(SC_HANDLE manager, const wchar_t* name, const wchar_t* display_name, DWORD type, DWORD start,
                    const std::wstring& binary) {
  Handle service(CreateServiceW(manager, name, display_name, SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL,
                                binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (service) return {};
  if (GetLastError() != ERROR_SERVICE_EXISTS) return Fail(std::wstring(L"cannot create the service ") + name, GetLastError());
  service.reset(OpenServiceW(manager, name, SERVICE_CHANGE_CONFIG));
  if (!service || !ChangeServiceConfigW(service.get(), type, start, SERVICE_ERROR_NORMAL, binary.c_str(), nullptr,
                                        nullptr, nullptr, nullptr, nullptr, display_name)) {
    return Fail(std::wstring(L"cannot set up the service ") + name, GetLastError());
  }
  return {};
}

// KvxMDES as the machine has it: own process, automatic start, its program
// in the companion's folder.
Failure CreateCompanion(SC_HANDLE manager) {
  return CreateOrSet(manager, kCompanionService, kCompanionDisplayName, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                     L"\"" + CompanionFile() + L"\"");
}

Failure CreateDriverService(SC_HANDLE manager) {
  return CreateOrSet(manager, kDriverService, kDriverService, SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START,
                     kDriverImagePath);
}

// Stops the service if it is there and not stopped: a running program's
// file cannot be replaced.
Failure StopIfThere(SC_HANDLE manager, const wchar_t* name) {
  Handle service(OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? Failure()
                                                         : Fail(std::wstring(L"cannot open the service ") + name, GetLastError());
  }
  return ControlAndWait(service.get(), name, SERVICE_CONTROL_STOP, SERVICE_STOPPED);
}

Failure OpenManager(Handle& manager, DWORD access) {
  SC_HANDLE h = OpenSCManagerW(nullptr, nullptr, access);
  if (h == nullptr) return Fail(L"cannot open the service control manager", GetLastError());
  manager.reset(h);
  return {};
}

// Registers the management stand-in for CLSID_WbemLocator in one view of
// the registry: WMI serves 64-bit and 32-bit callers alike, and each loads
// the in-process server of its own bitness.
Failure RegisterLocator(const std::wstring& dll, REGSAM view) {
  Failure failure = SetString(HKEY_LOCAL_MACHINE, kWbemLocatorClsidKey, nullptr, dll, view);
  if (failure.empty()) failure = SetString(HKEY_LOCAL_MACHINE, kWbemLocatorClsidKey, L"ThreadingModel", L"Both", view);
  return failure;
}

Failure Install(const wchar_t* driver_sys, const wchar_t* service_exe, const wchar_t* wmi_dll,
                const wchar_t* wmi32_dll, const wchar_t* physmem_nt, const wchar_t* smbios_dmi) {
  // Every file is checked before anything installed is touched.
  const std::wstring wmi = FullPath(wmi_dll), wmi32 = FullPath(wmi32_dll);
  for (const std::wstring& file : {FullPath(driver_sys), FullPath(service_exe), wmi, wmi32}) {
    if (!IsPlainFile(file)) return Fail(L"no such file: " + file, ERROR_FILE_NOT_FOUND);
  }
  if (*physmem_nt == L'\0' || *smbios_dmi == L'\0') return Fail(L"empty path for the machine's files", ERROR_INVALID_PARAMETER);

  // Installing again replaces the programs: the services that run them stop first.
  Handle manager;
  Failure failure = OpenManager(manager, SC_MANAGER_ALL_ACCESS);
  if (!failure.empty() || !(failure = StopIfThere(manager.get(), kCompanionService)).empty() ||
      !(failure = StopIfThere(manager.get(), kDriverService)).empty() ||
      !(failure = CopyInPlace(FullPath(driver_sys), DriverFile())).empty()) {
    return failure;
  }
  if (!CreateDirectoryW(CompanionFolder().c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return Fail(L"cannot create the folder " + CompanionFolder(), GetLastError());
  }
  if (!(failure = CopyInPlace(FullPath(service_exe), CompanionFile())).empty()) return failure;

  const std::wstring parameters = std::wstring(L"System\\CurrentControlSet\\Services\\") + kDriverService + L"\\Parameters";
  if (!(failure = CreateDriverService(manager.get())).empty() ||
      !(failure = SetString(HKEY_LOCAL_MACHINE, parameters.c_str(), KVX_WINE_PHYSMEM_VALUE, physmem_nt)).empty() ||
      !(failure = SetString(HKEY_LOCAL_MACHINE, KVX_WINE_EMULATOR_KEY, KVX_WINE_PHYSMEM_VALUE, physmem_nt)).empty() ||
      !(failure = CreateCompanion(manager.get())).empty() ||
      !(failure = RegisterLocator(wmi, 0)).empty() || !(failure = RegisterLocator(wmi32, KEY_WOW64_32KEY)).empty() ||
      !(failure = SetString(HKEY_LOCAL_MACHINE, KVX_WINE_EMULATOR_KEY, KVX_WINE_SMBIOS_VALUE, smbios_dmi)).empty() ||
      !(failure = SetString(HKEY_CURRENT_USER, kConnectSoundKey, nullptr, kConnectSound)).empty() ||
      !(failure = SetString(HKEY_CURRENT_USER, kDisconnectSoundKey, nullptr, kDisconnectSound)).empty() ||
      !(failure = StartAndWait(manager.get(), kDriverService)).empty() ||
      !(failure = StartAndWait(manager.get(), kCompanionService)).empty()) {
    return failure;
  }
  return {};
}

Failure ServiceStep(const wchar_t* name, std::wstring_view action) {
  Handle manager;
  Failure failure = OpenManager(manager, SC_MANAGER_ALL_ACCESS);
  if (!failure.empty()) return failure;
  if (action == L"create") {
    if (std::wcscmp(name, kCompanionService) != 0) {
      return Fail(std::wstring(L"only ") + kCompanionService + L" is created again", ERROR_INVALID_PARAMETER);
    }
    return CreateCompanion(manager.get());
  }
  if (action == L"start") return StartAndWait(manager.get(), name);

  Handle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
  if (!service) {
    const DWORD error = GetLastError();
    // Nothing to take away from a service that is not there.
    if (action == L"delete" && error == ERROR_SERVICE_DOES_NOT_EXIST) return {};
    return Fail(std::wstring(L"cannot open the service ") + name, error);
  }
  if (action == L"stop") return ControlAndWait(service.get(), name, SERVICE_CONTROL_STOP, SERVICE_STOPPED);
  if (action == L"pause") return ControlAndWait(service.get(), name, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
  if (action == L"continue") return ControlAndWait(service.get(), name, SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
  if (action == L"delete") {
    // A running service would stay until it stops: stop it first, so the
    // name is gone when this step ends.
    if (!(failure = ControlAndWait(service.get(), name, SERVICE_CONTROL_STOP, SERVICE_STOPPED)).empty()) return failure;
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
      return Fail(std::wstring(L"cannot delete the service ") + name, GetLastError());
    }
    return {};
  }
  return Fail(L"unknown service action " + std::wstring(action), ERROR_INVALID_PARAMETER);
}

Failure ControlStep(const wchar_t* name, const wchar_t* code_text) {
  wchar_t* end = nullptr;
  const unsigned long code = std::wcstoul(code_text, &end, 10);
  if (*code_text == L'\0' || *end != L'\0' || code < 128 || code > 255) {
    return Fail(std::wstring(L"not a user control code: ") + code_text, ERROR_INVALID_PARAMETER);
  }
  Handle manager;
  Failure failure = OpenManager(manager, SC_MANAGER_CONNECT);
  if (!failure.empty()) return failure;
  Handle service(OpenServiceW(manager.get(), name, SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS));
  if (!service) return Fail(std::wstring(L"cannot open the service ") + name, GetLastError());
  SERVICE_STATUS status = {};
  if (!ControlService(service.get(), code, &status)) {
    return Fail(std::wstring(L"the service ") + name + L" refused the control " + code_text, GetLastError());
  }
  return {};
}

Failure StatusStep(const wchar_t* name) {
  Handle manager;
  Failure failure = OpenManager(manager, SC_MANAGER_CONNECT);
  if (!failure.empty()) return failure;
  Handle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
  if (!service) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_DOES_NOT_EXIST) return Fail(std::wstring(L"cannot open the service ") + name, error);
    std::fputs("absent\n", stdout);
    return {};
  }
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service.get(), &status)) return Fail(std::wstring(L"cannot query the service ") + name, GetLastError());
  std::fputs((Narrow(StateWord(status.dwCurrentState)) + "\n").c_str(), stdout);
  return {};
}

// The default value of each sound event's key, as "KEY<TAB>VALUE" in UTF-8;
// a key or value that is not there prints nothing.
Failure RegistryStep() {
  for (const wchar_t* key_path : {kConnectSoundKey, kDisconnectSoundKey}) {
    Key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key_path, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) continue;
    DWORD type = 0, size = 0;
    LSTATUS status = RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) continue;
    if (status != ERROR_SUCCESS) return Fail(std::wstring(L"cannot read the value of ") + key_path, status);
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    status = RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    if (status != ERROR_SUCCESS) return Fail(std::wstring(L"cannot read the value of ") + key_path, status);
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    // The text ends at its first zero unit, as a reader of the value sees it.
    value.resize(std::wcslen(value.c_str()));
    std::fputs((Narrow(key_path) + "\t" + Narrow(value) + "\n").c_str(), stdout);
  }
  return {};
}

// The driver's file missing: the driver is stopped first (a loaded image
// cannot be deleted), then its file goes; the service entry stays.
Failure RemoveDriverFileStep() {
  Handle manager;
  Failure failure = OpenManager(manager, SC_MANAGER_ALL_ACCESS);
  if (!failure.empty()) return failure;
  Handle service(OpenServiceW(manager.get(), kDriverService, SERVICE_ALL_ACCESS));
  if (service) {
    if (!(failure = ControlAndWait(service.get(), kDriverService, SERVICE_CONTROL_STOP, SERVICE_STOPPED)).empty()) {
      return failure;
    }
  } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
    return Fail(std::wstring(L"cannot open the service ") + kDriverService, GetLastError());
  }
  const std::wstring file = DriverFile();
  if (!DeleteFileW(file.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    return Fail(L"cannot delete " + file, GetLastError());
  }
  return {};
}

Failure Dispatch(int argc, wchar_t** args) {
  const std::wstring_view step = argc > 0 ? args[0] : L"";
  if (step == L"install" && argc == 7) return Install(args[1], args[2], args[3], args[4], args[5], args[6]);
  if (step == L"service" && argc == 3) return ServiceStep(args[1], args[2]);
  if (step == L"control" && argc == 3) return ControlStep(args[1], args[2]);
  if (step == L"status" && argc == 2) return StatusStep(args[1]);
  if (step == L"registry" && argc == 1) return RegistryStep();
  if (step == L"remove-driver-file" && argc == 1) return RemoveDriverFileStep();
  return kUsage;
}

}  // namespace

int RunAdmin(int argc, wchar_t** args) {
  const Failure failure = Dispatch(argc, args);
  if (failure.empty()) return 0;
  std::fputs(("kvxwine: " + Narrow(failure) + "\n").c_str(), stderr);
  return 1;
}

}  // namespace kvx::wine
