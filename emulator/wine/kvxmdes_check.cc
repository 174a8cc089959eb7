// The companion service KvxMDES.exe under a real service control manager,
// against a stand-in for the machine: this program serves the machine's pipe
// itself, answers the service's requests as kvxemu does, and checks what a
// tool sees through the service manager and the shared objects.
//
// Usage (in a Wine prefix of its own): kvxmdes_check PATH\KvxMDES.exe
// Installs the service under a name of its own, runs the cases, removes it.
// Prints one line per failed check; exit 0 when every check held.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/utf.h"
#include "emulator/wine/pipe_frames.h"
#include "emulator/wine/wine_machine.h"
#include "platform/win32/wide_text.h"

namespace {

using kvx::Fields;

constexpr wchar_t kService[] = L"KvxMDES";
constexpr wchar_t kMountMapping[] = L"Global\\KVXFileMappingMount";
constexpr wchar_t kUserMapping[] = L"Global\\KVXFileMappingUser";
constexpr wchar_t kUserMutex[] = L"KVXShareMemUserMutex";

int g_failures = 0;

void Check(bool held, const std::string& what) {
  if (held) return;
  ++g_failures;
  std::printf("FAIL: %s\n", what.c_str());
  std::fflush(stdout);
}

std::string Show(const Fields& fields) {
  std::string out = "{";
  for (size_t i = 0; i < fields.size(); ++i) out += (i ? ", \"" : "\"") + fields[i] + "\"";
  return out + "}";
}

// The machine's stand-in: the reply for each user code, and every request
// it was sent, in order.
class Machine {
 public:
  void Answer(DWORD code, Fields reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[code] = std::move(reply);
  }
  // While silent, a connection is closed without a reply, as when the
  // machine is down.
  void SetSilent(bool silent) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = silent;
  }
  std::vector<Fields> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Fields> out;
    out.swap(requests_);
    return out;
  }

  bool Serve(HANDLE pipe) {
    Fields request;
    if (!kvx::wine::ReceiveFrame(kvx::wine::HandleReader(pipe), request)) return false;
    Fields reply = {"ok"};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (silent_) return false;
      requests_.push_back(request);
      if (request.size() == 3 && request[0] == "svc.control") {
        const auto it = replies_.find(static_cast<DWORD>(kvx::FieldNumber(request[2])));
        reply = it != replies_.end() ? it->second : kvx::ErrorReply(kvx::kErrorInvalidServiceControl);
      }
    }
    return kvx::wine::SendFrame(kvx::wine::HandleWriter(pipe), reply);
  }

 private:
  std::mutex mutex_;
  std::map<DWORD, Fields> replies_;
  std::vector<Fields> requests_;
  bool silent_ = false;
};

Machine g_machine;

DWORD WINAPI Client(void* arg) {
  HANDLE pipe = static_cast<HANDLE>(arg);
  while (g_machine.Serve(pipe)) {
  }
  FlushFileBuffers(pipe);
  DisconnectNamedPipe(pipe);
  CloseHandle(pipe);
  return 0;
}

DWORD WINAPI Listen(void*) {
  for (;;) {
    HANDLE pipe = CreateNamedPipeW(KVX_WINE_PIPE_WIN32, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
      CloseHandle(pipe);
      continue;
    }
    HANDLE thread = CreateThread(nullptr, 0, Client, pipe, 0, nullptr);
    if (thread == nullptr) {
      CloseHandle(pipe);
    } else {
      CloseHandle(thread);
    }
  }
}

struct Scm {
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = nullptr;
  ~Scm() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }
};

DWORD State(SC_HANDLE service) {
  SERVICE_STATUS status = {};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

// Waits for a state the service moves into on its own (after a stop or a
// start); the service manager decides how long that may take.
bool AwaitState(SC_HANDLE service, DWORD state) {
  for (int i = 0; i < 400; ++i) {
    if (State(service) == state) return true;
    Sleep(50);
  }
  return false;
}

// Sends `code`; returns 0 when ControlService succeeded, else its error.
DWORD Control(SC_HANDLE service, DWORD code) {
  SERVICE_STATUS status = {};
  return ControlService(service, code, &status) ? 0 : GetLastError();
}

bool MappingExists(const wchar_t* name) {
  HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
  if (h == nullptr) return false;
  CloseHandle(h);
  return true;
}

// The mount mapping's 64 bytes as a tool reads them.
std::string MountBytes() {
  HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, kMountMapping);
  if (h == nullptr) return "(no mapping)";
  const void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 64);
  std::string bytes = view ? std::string(static_cast<const char*>(view), 64) : "(no view)";
  if (view) UnmapViewOfFile(view);
  CloseHandle(h);
  return bytes;
}

// Writes the user list as the tool does: count text, then the names.
void WriteUserList(const std::string& count, const std::vector<std::string>& names) {
  HANDLE h = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kUserMapping);
  Check(h != nullptr, "the user mapping opens for writing");
  if (h == nullptr) return;
  char* view = static_cast<char*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 4096));
  if (view != nullptr) {
    std::memset(view, 0, 4096);
    std::memcpy(view, count.data(), std::min<size_t>(count.size(), 9));
    for (size_t k = 0; k < names.size() && k < 40; ++k) {
      const std::string bytes = kvx::EncodeUtf16Bytes(kvx::Utf8ToUtf16(names[k]));
      std::memcpy(view + 20 + 100 * k, bytes.data(), std::min<size_t>(bytes.size(), 98));
    }
    UnmapViewOfFile(view);
  }
  CloseHandle(h);
}

// The one request of kind `op` among `requests`, or an empty list.
Fields Only(const std::vector<Fields>& requests, const std::string& op) {
  Fields found;
  int n = 0;
  for (const Fields& r : requests) {
    if (!r.empty() && r[0] == op) {
      found = r;
      ++n;
    }
  }
  return n == 1 ? found : Fields{};
}

void CheckMountAndUnmount(SC_HANDLE service) {
  g_machine.Answer(134, {"ok", "mount", "KVXFLASH0"});
  Check(Control(service, 134) == 0, "134 succeeds");
  std::string expected(64, '\0');
  const std::string name = kvx::EncodeUtf16Bytes(u"KVXFLASH0");
  expected.replace(0, name.size(), name);
  Check(MountBytes() == expected, "134 leaves the device name in the mount mapping, zero-filled");
  Check(Only(g_machine.Take(), "svc.control") == Fields{"svc.control", "KvxMDES", "134"},
        "134 is asked of the machine as {svc.control, KvxMDES, 134}");

  // A name of 40 units keeps 31 and a zero unit.
  g_machine.Answer(134, {"ok", "mount", std::string(40, 'N')});
  Check(Control(service, 134) == 0, "134 with a long name succeeds");
  const std::string bytes = MountBytes();
  Check(bytes.substr(0, 62) == kvx::EncodeUtf16Bytes(std::u16string(31, u'N')) && bytes.substr(62) == std::string(2, '\0'),
        "a long device name is cut to 31 units and stays zero-terminated");

  g_machine.Answer(134, {"ok", "mount", ""});
  Check(Control(service, 134) == 0 && MountBytes() == std::string(64, '\0'), "an empty mount leaves the mapping zero");

  g_machine.Answer(134, {"ok", "mount", "KVXFLASH0"});
  Control(service, 134);
  g_machine.Answer(135, {"ok", "unmount"});
  Check(Control(service, 135) == 0, "135 succeeds");
  Check(MountBytes() == std::string(64, '\0'), "135 clears the mount mapping");
  g_machine.Take();
}

bool MutexHeldElsewhere() {
  HANDLE m = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kUserMutex);
  if (m == nullptr) return false;
  const DWORD wait = WaitForSingleObject(m, 0);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(m);
  CloseHandle(m);
  return wait == WAIT_TIMEOUT;
}

// Waits for the mutex to come free; it must, once the hold is over.
bool MutexComesFree() {
  HANDLE m = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kUserMutex);
  if (m == nullptr) return true;
  const DWORD wait = WaitForSingleObject(m, 30000);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(m);
  CloseHandle(m);
  return wait == WAIT_OBJECT_0;
}

void CheckUnlockAndExport(SC_HANDLE service) {
  g_machine.Answer(136, {"ok", "unlock", "0"});
  Check(Control(service, 136) == 0, "136 without a hold succeeds");
  Check(!MutexHeldElsewhere(), "136 without a hold leaves the user list's mutex free");

  g_machine.Answer(133, {"ok", "export"});
  WriteUserList("3", {"alice", "b\xc3\xb6rje"});
  Check(Control(service, 133) == 0, "133 succeeds");
  Check(Only(g_machine.Take(), "svc.exported") == Fields{"svc.exported", "KvxMDES", "ok", "3", "alice", "b\xc3\xb6rje", ""},
        "133 sends the count and every slot up to it, in UTF-8");

  std::vector<std::string> many;
  for (int k = 0; k < 45; ++k) many.push_back("user" + std::to_string(k));
  WriteUserList("45", many);
  Control(service, 133);
  const Fields sent = Only(g_machine.Take(), "svc.exported");
  Check(sent.size() == 4 + 40 && sent[3] == "45" && sent.back() == "user39", "133 sends at most 40 names: " + Show(sent));

  // The service holds the list for a while after an unlock; a tool that
  // wants it meanwhile waits, the service's own export reads it.
  g_machine.Answer(136, {"ok", "unlock", "3000"});
  WriteUserList("1", {"carol"});
  Check(Control(service, 136) == 0, "136 with a hold succeeds");
  Check(MutexHeldElsewhere(), "the user list's mutex is held when 136 returns");
  Check(Control(service, 133) == 0, "133 during the service's own hold succeeds");
  Check(Only(g_machine.Take(), "svc.exported") == Fields{"svc.exported", "KvxMDES", "ok", "1", "carol"},
        "133 during the service's own hold reads the list");
  Check(MutexComesFree(), "the hold ends");

  // Held by someone else for longer than the service waits: "locked".
  // The mutex may still exist through the service's handle, and a named
  // mutex that exists is opened without the initial ownership asked for:
  // the check takes it by waiting.
  HANDLE m = CreateMutexW(nullptr, FALSE, kUserMutex);
  Check(m != nullptr && WaitForSingleObject(m, 30000) == WAIT_OBJECT_0, "the check holds the user list");
  Check(Control(service, 133) == 0, "133 while the list is held elsewhere still answers");
  Check(Only(g_machine.Take(), "svc.exported") == Fields{"svc.exported", "KvxMDES", "locked", ""},
        "133 while the list is held elsewhere reports it locked");
  ReleaseMutex(m);
  CloseHandle(m);
}

// Wine's service manager (8.0) answers ControlService with success
// whatever the handler returns; Windows passes the handler's error on.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The handler's error as ControlService shows it: on Windows exactly
// `error`; under Wine also success, said once on the output.
bool HandlerError(DWORD got, DWORD error) {
  if (got == error) return true;
  if (got == 0 && UnderWine()) {
    std::printf("note: Wine's ControlService gave success for a handler error %lu\n", error);
    return true;
  }
  return false;
}

void CheckRefusalsAndNoMachine(SC_HANDLE service) {
  g_machine.Answer(134, {"ok", "mount", "KVXFLASH0"});
  Control(service, 134);
  const std::string mounted = MountBytes();
  g_machine.Answer(134, {"err", "1052"});
  const DWORD refused = Control(service, 134);
  Check(HandlerError(refused, ERROR_INVALID_SERVICE_CONTROL),
        "a refused code gives ControlService error 1052, not " + std::to_string(refused));
  Check(MountBytes() == mounted, "a refused mount leaves the mount mapping as it was");
  g_machine.SetSilent(true);
  const DWORD absent = Control(service, 134);
  Check(HandlerError(absent, ERROR_DEVICE_NOT_CONNECTED),
        "without a machine a user code gives 1167, not " + std::to_string(absent));
  Check(MountBytes() == mounted, "a mount without a machine leaves the mount mapping as it was");
  g_machine.SetSilent(false);
  g_machine.Answer(135, {"ok", "unmount"});
  Control(service, 135);
  g_machine.Take();
}

void CheckMappingsKnob(SC_HANDLE service) {
  Check(Control(service, KVX_WINE_CONTROL_DROP_MAPPINGS) == 0, "250 succeeds");
  Check(!MappingExists(kMountMapping) && !MappingExists(kUserMapping), "250 drops both mappings");
  g_machine.Answer(133, {"ok", "export"});
  Control(service, 133);
  Check(Only(g_machine.Take(), "svc.exported") == Fields{"svc.exported", "KvxMDES", "nomapping", ""},
        "133 without mappings reports them missing");
  g_machine.Answer(134, {"ok", "mount", "KVXFLASH0"});
  Check(Control(service, 134) == 0, "134 without mappings still answers");
  Check(Control(service, KVX_WINE_CONTROL_MAKE_MAPPINGS) == 0, "251 succeeds");
  Check(MappingExists(kMountMapping) && MappingExists(kUserMapping), "251 makes both mappings again");
  Check(Control(service, KVX_WINE_CONTROL_MAKE_MAPPINGS) == 0, "251 with the mappings there succeeds");
  g_machine.Take();
}

void CheckPauseContinue(SC_HANDLE service) {
  Check(Control(service, SERVICE_CONTROL_PAUSE) == 0 && State(service) == SERVICE_PAUSED, "pause leaves it paused");
  Check(Only(g_machine.Take(), "svc.state") == Fields{"svc.state", "KvxMDES", "paused"}, "pause is reported");
  Check(MappingExists(kMountMapping), "the mappings stay while paused");
  Check(Control(service, SERVICE_CONTROL_CONTINUE) == 0 && State(service) == SERVICE_RUNNING,
        "continue leaves it running");
  Check(Only(g_machine.Take(), "svc.state") == Fields{"svc.state", "KvxMDES", "running"}, "continue is reported");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: kvxmdes_check PATH\\KvxMDES.exe | --serve\n", stderr);
    return 2;
  }
  HANDLE listener = CreateThread(nullptr, 0, Listen, nullptr, 0, nullptr);
  if (listener == nullptr) return 2;
  // Only the stand-in, until stopped: it answers "ok" to every request but
  // a user code, and keeps the prefix's wineserver up for manual steps.
  if (std::wstring_view(argv[1]) == L"--serve") {
    WaitForSingleObject(listener, INFINITE);
    return 1;
  }

  Scm scm;
  scm.manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (scm.manager == nullptr) {
    std::printf("FAIL: no service control manager (%lu)\n", GetLastError());
    return 1;
  }
  const std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
  scm.service = CreateServiceW(scm.manager, kService, kService, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                               nullptr, nullptr);
  if (scm.service == nullptr) {
    std::printf("FAIL: cannot create the service (%lu)\n", GetLastError());
    return 1;
  }
  Check(!MappingExists(kMountMapping), "no mount mapping before the service runs");
  Check(StartServiceW(scm.service, 0, nullptr) != FALSE, "the service starts");
  Check(AwaitState(scm.service, SERVICE_RUNNING), "the service runs");
  Check(Only(g_machine.Take(), "svc.state") == Fields{"svc.state", "KvxMDES", "running"}, "running is reported");
  Check(MappingExists(kMountMapping) && MappingExists(kUserMapping), "both mappings exist while it runs");

  CheckMountAndUnmount(scm.service);
  CheckUnlockAndExport(scm.service);
  CheckRefusalsAndNoMachine(scm.service);
  CheckMappingsKnob(scm.service);
  CheckPauseContinue(scm.service);

  Check(Control(scm.service, SERVICE_CONTROL_STOP) == 0, "stop succeeds");
  Check(AwaitState(scm.service, SERVICE_STOPPED), "the service stops");
  Check(Only(g_machine.Take(), "svc.state") == Fields{"svc.state", "KvxMDES", "stopped"}, "stopped is reported");
  Check(!MappingExists(kMountMapping) && !MappingExists(kUserMapping), "the mappings go with the service");
  DeleteService(scm.service);

  std::printf("%s: %d failed\n", g_failures ? "FAIL" : "ok", g_failures);
  return g_failures ? 1 : 0;
}
