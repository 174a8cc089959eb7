// kvxprogress.exe: the program on the other side of the tool's progress
// mapping. It creates "Global\VeskQZRGlobalShareMemory", shows the
// percentage that the tool publishes during copyPersistentData, and ends
// at 100 or when the watched run ends.
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/entry.h"
#include "flash/persistent_copy.h"
#include "platform/win32/named_objects_win32.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
#include "tools/tool_options.h"

namespace {

constexpr size_t kMappingSize = 4096;

const char kUsage[] =
    "Usage: kvxprogress [--ready FILE] [--pid PID]\n"
    "\n"
    "Creates the progress mapping Global\\VeskQZRGlobalShareMemory and shows the\n"
    "percentage that QZRRemote copyPersistentData publishes in it: a bar on a\n"
    "console, a line per change otherwise. It ends when the copy reaches 100%,\n"
    "when the watched run ends (the process PID, or else the run of QZRRemote\n"
    "that it saw start), or when interrupted.\n"
    "\n"
    KVX_PROGRESS_OPTIONS_USAGE
    "\n"
    "Exit codes: 0 the copy reached 100%; 1 the run ended before that, or the\n"
    "viewer was interrupted; 2 bad arguments or no mapping could be created.\n";

volatile LONG g_stop = 0;

BOOL WINAPI OnControl(DWORD) {
  InterlockedExchange(&g_stop, 1);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(kvx::Narrow(argv[i]));
  kvx::ProgressOptions options;
  std::string bad;
  const kvx::ToolArguments parsed = kvx::ParseProgressArguments(args, options, bad);
  const int outcome = kvx::ArgumentsOutcome(parsed, "kvxprogress", kUsage, bad, 2);
  if (outcome >= 0) return outcome;

  kvx::Win32NamedObjects objects;
  bool existed = false;
  std::unique_ptr<kvx::NamedMapping> mapping =
      objects.CreateFileMapping(kvx::kProgressMappingName, kMappingSize, &existed);
  std::unique_ptr<kvx::MappingView> view = mapping ? mapping->MapView(kMappingSize) : nullptr;
  if (!view) {
    std::fprintf(stderr, "kvxprogress: cannot create the progress mapping\n");
    return 2;
  }
  HANDLE process = nullptr;
  if (options.pid > 0) {
    process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(options.pid));
    if (process == nullptr) return 1;  // already gone
  }
  SetConsoleCtrlHandler(OnControl, TRUE);
  if (!options.ready.empty()) {
    if (std::FILE* r = _wfopen(kvx::Wide(options.ready).c_str(), L"wb")) std::fclose(r);
  }

  // The watched run: a process, or the tool's run seen holding its guard.
  bool run_seen = false;
  kvx::ProgressWatch watch;
  watch.stopped = [] { return g_stop != 0; };
  watch.run_ended = [&] {
    if (process != nullptr) return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    const bool held = objects.OpenMutex(kvx::kInstanceMutexName) != nullptr;
    if (held) run_seen = true;
    return run_seen && !held;
  };
  watch.pause = [] { Sleep(50); };
  const int result =
      kvx::WatchProgress(view->data(), view->size(), _isatty(_fileno(stdout)) != 0, watch);
  if (process != nullptr) CloseHandle(process);
  return result;
}
