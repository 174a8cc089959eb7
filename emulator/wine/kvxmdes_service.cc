// KvxMDES.exe, the companion service of the machine under Wine: a Win32
// own-process service that holds the two named mappings the tool reads and
// writes, and carries out the tool's control codes as kvxemu (which owns the
// module's power, mount and lock) tells it. Every answer is in place before
// the handler returns, so the tool finds the device name in the mount
// mapping as soon as its ControlService call is back.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/utf.h"
#include "emulator/wine/pipe_frames.h"
#include "emulator/wine/wine_machine.h"

namespace {

using kvx::Fields;
using kvx::wine::CallMachine;

constexpr wchar_t kServiceName[] = L"KvxMDES";
constexpr char kServiceNameUtf8[] = "KvxMDES";
constexpr wchar_t kMountMapping[] = L"Global\\KVXFileMappingMount";
constexpr wchar_t kUserMapping[] = L"Global\\KVXFileMappingUser";
constexpr wchar_t kUserMutex[] = L"KVXShareMemUserMutex";
constexpr DWORD kMountSize = 64;
constexpr DWORD kUserSize = 4096;
// The user list: the account count as decimal text at offset 0 (at most 10
// bytes), then up to 40 names of 100 bytes each from offset 20.
constexpr size_t kCountWidth = 10;
constexpr size_t kNamesOffset = 20;
constexpr size_t kNameWidth = 100;
constexpr long kMaxNames = 40;
// How long an export waits for the user list's mutex.
constexpr DWORD kExportWaitMs = 5000;
// State reports go to a machine that is up or not at all: a short wait.
constexpr DWORD kStateReportWaitMs = 2000;

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
SERVICE_STATUS g_status = {};
HANDLE g_stop_event = nullptr;

// The two mappings and their views; only the handler's thread and the
// service's main thread (before the handler is registered and after stop)
// touch them, and the dispatcher runs one control at a time.
HANDLE g_mount_mapping = nullptr;
HANDLE g_user_mapping = nullptr;
unsigned char* g_mount_view = nullptr;
unsigned char* g_user_view = nullptr;

// Set while a thread of this service owns the user list's mutex for an
// unlock's hold: an export then reads the list under that hold.
std::atomic<bool> g_holding_user_list{false};

// Objects any local user's tool may open: the service runs as LocalSystem
// on Windows, the tool as the user. A descriptor without a DACL grants all.
SECURITY_ATTRIBUTES* OpenToAll() {
  static SECURITY_DESCRIPTOR sd;
  static SECURITY_ATTRIBUTES sa;
  static bool made = false;
  if (!made) {
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = &sd;
    sa.bInheritHandle = FALSE;
    made = true;
  }
  return &sa;
}

bool MakeMapping(const wchar_t* name, DWORD size, HANDLE& mapping, unsigned char*& view) {
  mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, OpenToAll(), PAGE_READWRITE, 0, size, name);
  if (mapping == nullptr) return false;
  view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
  if (view == nullptr) {
    CloseHandle(mapping);
    mapping = nullptr;
    return false;
  }
  return true;
}

void DropMapping(HANDLE& mapping, unsigned char*& view) {
  if (view != nullptr) UnmapViewOfFile(view);
  if (mapping != nullptr) CloseHandle(mapping);
  view = nullptr;
  mapping = nullptr;
}

void DropMappings() {
  DropMapping(g_mount_mapping, g_mount_view);
  DropMapping(g_user_mapping, g_user_view);
}

// Both or neither: a half-made pair is dropped again.
bool MakeMappings() {
  if (g_mount_view != nullptr && g_user_view != nullptr) return true;
  DropMappings();
  if (MakeMapping(kMountMapping, kMountSize, g_mount_mapping, g_mount_view) &&
      MakeMapping(kUserMapping, kUserSize, g_user_mapping, g_user_view)) {
    return true;
  }
  DropMappings();
  return false;
}

// The device name as UTF-16LE, zero-filled; at most 31 units, so the
// 64 bytes always end in a zero unit.
void WriteMountName(const std::string& name) {
  if (g_mount_view == nullptr) return;
  std::memset(g_mount_view, 0, kMountSize);
  const std::string bytes = kvx::EncodeUtf16Bytes(kvx::Utf8ToUtf16(name));
  std::memcpy(g_mount_view, bytes.data(), std::min<size_t>(bytes.size(), kMountSize - 2));
}

// Tells kvxemu the state the service is now in; a machine that is not up
// does not keep the service from running.
void ReportToMachine(const char* state) {
  CallMachine({"svc.state", kServiceNameUtf8, state}, kStateReportWaitMs);
}

void SetState(DWORD state, DWORD exit_code = NO_ERROR) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted =
      (state == SERVICE_RUNNING || state == SERVICE_PAUSED) ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE : 0;
  g_status.dwWin32ExitCode = exit_code;
  g_status.dwWaitHint = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) ? 5000 : 0;
  SetServiceStatus(g_status_handle, &g_status);
}

struct Hold {
  DWORD ms;
  HANDLE taken;  // set once the thread owns the mutex or gave up
};

// Owns the user list's mutex for the hold's time, then lets it go. The
// mutex belongs to the thread that waited on it, so the hold has a thread.
DWORD WINAPI HoldUserList(void* arg) {
  Hold* hold = static_cast<Hold*>(arg);
  const DWORD ms = hold->ms;
  HANDLE mutex = CreateMutexW(OpenToAll(), FALSE, kUserMutex);
  bool owned = false;
  if (mutex != nullptr) {
    const DWORD wait = WaitForSingleObject(mutex, 0);
    owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  if (owned) g_holding_user_list = true;
  SetEvent(hold->taken);  // `hold` belongs to the handler from here on
  if (owned) {
    Sleep(ms);
    g_holding_user_list = false;
    ReleaseMutex(mutex);
  }
  if (mutex != nullptr) CloseHandle(mutex);
  return 0;
}

// Starts the hold and returns once the mutex is owned (or could not be).
void StartHold(DWORD ms) {
  Hold hold{ms, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  if (hold.taken == nullptr) return;
  HANDLE thread = CreateThread(nullptr, 0, HoldUserList, &hold, 0, nullptr);
  if (thread != nullptr) {
    WaitForSingleObject(hold.taken, INFINITE);
    CloseHandle(thread);
  }
  CloseHandle(hold.taken);
}

// Reads the user list the tool handed over and sends it to kvxemu.
void Export() {
  if (g_user_view == nullptr) {
    CallMachine({"svc.exported", kServiceNameUtf8, "nomapping", ""});
    return;
  }
  HANDLE mutex = nullptr;
  if (!g_holding_user_list) {
    mutex = CreateMutexW(OpenToAll(), FALSE, kUserMutex);
    const DWORD wait = mutex != nullptr ? WaitForSingleObject(mutex, kExportWaitMs) : WAIT_FAILED;
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
      if (mutex != nullptr) CloseHandle(mutex);
      CallMachine({"svc.exported", kServiceNameUtf8, "locked", ""});
      return;
    }
  }
  const char* view = reinterpret_cast<const char*>(g_user_view);
  const std::string count(view, strnlen(view, kCountWidth));
  Fields request = {"svc.exported", kServiceNameUtf8, "ok", count};
  long n = std::strtol(count.c_str(), nullptr, 10);
  if (n < 0) n = 0;
  for (long k = 0; k < n && k < kMaxNames; ++k) {
    request.push_back(kvx::Utf16FieldText(std::string_view(view + kNamesOffset + kNameWidth * k, kNameWidth)));
  }
  if (mutex != nullptr) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  CallMachine(request);
}

// A user code: kvxemu decides, the service carries it out here.
DWORD UserControl(DWORD code) {
  const Fields reply = CallMachine({"svc.control", kServiceNameUtf8, kvx::NumberField(code)});
  int error = 0;
  if (!kvx::ReplyOk(reply, error)) return error != 0 ? static_cast<DWORD>(error) : ERROR_GEN_FAILURE;
  const std::string what = reply.size() > 1 ? reply[1] : std::string();
  if (what == "mount") {
    WriteMountName(reply.size() > 2 ? reply[2] : std::string());
  } else if (what == "unmount") {
    WriteMountName("");
  } else if (what == "unlock") {
    const int64_t ms = reply.size() > 2 ? kvx::FieldNumber(reply[2]) : 0;
    if (ms > 0) StartHold(static_cast<DWORD>(std::min<int64_t>(ms, 0x7fffffff)));
  } else if (what == "export") {
    Export();
  }
  return NO_ERROR;
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      SetState(SERVICE_STOP_PENDING);
      DropMappings();
      ReportToMachine("stopped");
      SetEvent(g_stop_event);
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      SetState(SERVICE_PAUSED);
      ReportToMachine("paused");
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      SetState(SERVICE_RUNNING);
      ReportToMachine("running");
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    case KVX_WINE_CONTROL_DROP_MAPPINGS:
      DropMappings();
      return NO_ERROR;
    case KVX_WINE_CONTROL_MAKE_MAPPINGS:
      return MakeMappings() ? NO_ERROR : GetLastError();
    default:
      break;
  }
  if (control >= 128 && control <= 255) return UserControl(control);
  return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_status_handle = RegisterServiceCtrlHandlerExW(kServiceName, Handler, nullptr);
  if (g_status_handle == nullptr) return;
  SetState(SERVICE_START_PENDING);
  g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_stop_event == nullptr || !MakeMappings()) {
    const DWORD error = GetLastError();
    DropMappings();
    SetState(SERVICE_STOPPED, error != NO_ERROR ? error : ERROR_GEN_FAILURE);
    return;
  }
  ReportToMachine("running");
  SetState(SERVICE_RUNNING);
  WaitForSingleObject(g_stop_event, INFINITE);
  SetState(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
  wchar_t name[] = L"KvxMDES";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    fwprintf(stderr, L"KvxMDES: runs only as a service (error %lu)\n", GetLastError());
    return 1;
  }
  return 0;
}
