// kvxprogress.exe: the program on the other side of the tool's progress
// mapping. It creates "Global\VeskQZRGlobalShareMemory", shows the
// percentage that the tool publishes during copyPersistentData, and ends
// at 100 or when the watched run ends.
#include <cstdio>
#include <io.h>
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
    "  --ready FILE  create FILE once the mapping exists, so that a script can\n"
    "                start the copy after it\n"
    "  --pid PID     watch the process PID instead of the tool's run\n"
    "  --help        show this text\n"
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
  for (int i = 1; i < argc; ++i) args.push_back(kvx::Utf8(argv[i]));
  kvx::ProgressOptions options;
  std::string bad;
  switch (kvx::ParseProgressArguments(args, options, bad)) {
    case kvx::ToolArguments::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case kvx::ToolArguments::kBad:
      std::fprintf(stderr, "kvxprogress: unknown argument '%s'\n\n%s", bad.c_str(), kUsage);
      return 2;
    case kvx::ToolArguments::kRun:
      break;
  }

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

  const bool terminal = _isatty(_fileno(stdout)) != 0;
  int shown = -1;
  bool run_seen = false;
  int result = 1;
  while (!g_stop) {
    const int percent = kvx::ReadPercentage(view->data(), view->size());
    if (percent >= 0 && percent != shown) {
      kvx::ShowPercentage(percent, terminal);
      shown = percent;
    }
    if (percent >= 100) {
      result = 0;
      break;
    }
    // The watched run: a process, or the tool's run seen holding its guard.
    bool ended = false;
    if (process != nullptr) {
      ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    } else {
      const bool held = objects.OpenMutex(kvx::kInstanceMutexName) != nullptr;
      if (held) run_seen = true;
      ended = run_seen && !held;
    }
    if (ended) {
      // One more look: the last chunk may have landed as the run ended.
      const int last = kvx::ReadPercentage(view->data(), view->size());
      if (last != shown && last >= 0) kvx::ShowPercentage(last, terminal);
      if (last >= 100) result = 0;
      break;
    }
    Sleep(50);
  }
  if (process != nullptr) CloseHandle(process);
  if (terminal && shown >= 0) std::printf("\n");
  return result;
}
