// kvxprogress: the program on the other side of the tool's progress
// mapping. It creates the mapping, shows the percentage that the tool
// publishes during copyPersistentData, and ends at 100 or when the
// watched run ends.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/entry.h"
#include "flash/persistent_copy.h"
#include "platform/posix/machine_folder.h"
#include "platform/posix/named_objects_posix.h"

namespace {

using kvx::kInstanceMutexName;
using kvx::kProgressMappingName;
constexpr size_t kMappingSize = 4096;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    "Usage: kvxprogress [--ready FILE] [--pid PID]\n"
    "\n"
    "Creates the progress mapping of the machine folder (KVXPREFIX, or ~/.kvx)\n"
    "and shows the percentage that QZRRemote copyPersistentData publishes in it:\n"
    "a bar on a terminal, a line per change otherwise. It ends when the copy\n"
    "reaches 100%, when the watched run ends (the process PID, or else the run\n"
    "of QZRRemote that it saw start), or when interrupted.\n"
    "\n"
    "  --ready FILE  create FILE once the mapping exists, so that a script can\n"
    "                start the copy after it\n"
    "  --pid PID     watch the process PID instead of the tool's run\n"
    "  --help        show this text\n"
    "\n"
    "Exit codes: 0 the copy reached 100%; 1 the run ended before that, or the\n"
    "viewer was interrupted; 2 bad arguments or no mapping could be created.\n";

// The decimal digits at the start of the view, as UTF-16 characters; -1
// when there are none yet.
int ReadPercentage(const unsigned char* view, size_t size) {
  int value = -1;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const unsigned unit = view[i] | (view[i + 1] << 8);
    if (unit < '0' || unit > '9') break;
    value = (value < 0 ? 0 : value * 10) + static_cast<int>(unit - '0');
    if (value > 1000) break;
  }
  return value;
}

void Show(int percent, bool terminal) {
  if (terminal) {
    const int filled = percent >= 100 ? 40 : percent * 40 / 100;
    std::printf("\rCopying persistent data [%s%s] %3d%%", std::string(filled, '#').c_str(),
                std::string(40 - filled, '.').c_str(), percent);
  } else {
    std::printf("%d%%\n", percent);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string ready;
  long pid = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--ready" && i + 1 < argc) {
      ready = argv[++i];
    } else if (arg == "--pid" && i + 1 < argc) {
      pid = std::strtol(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "kvxprogress: unknown argument '%s'\n\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (!kvx::EnsureMachineDir("objects", true)) {
    std::fprintf(stderr, "kvxprogress: cannot create %s: %s\n", kvx::MachinePath("objects").c_str(),
                 std::strerror(errno));
    return 2;
  }
  kvx::PosixNamedObjects objects(kvx::MachinePath("objects"));
  bool existed = false;
  std::unique_ptr<kvx::NamedMapping> mapping =
      objects.CreateFileMapping(kProgressMappingName, kMappingSize, &existed);
  std::unique_ptr<kvx::MappingView> view = mapping ? mapping->MapView(kMappingSize) : nullptr;
  if (!view) {
    std::fprintf(stderr, "kvxprogress: cannot create the progress mapping\n");
    return 2;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  if (!ready.empty()) {
    if (FILE* r = std::fopen(ready.c_str(), "w")) std::fclose(r);
  }

  const bool terminal = isatty(STDOUT_FILENO);
  int shown = -1;
  bool run_seen = false;
  int result = 1;
  while (!g_stop) {
    const int percent = ReadPercentage(view->data(), view->size());
    if (percent >= 0 && percent != shown) {
      Show(percent, terminal);
      shown = percent;
    }
    if (percent >= 100) {
      result = 0;
      break;
    }
    // The watched run: a process, or the tool's run seen holding its guard.
    if (pid > 0) {
      if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) break;
    } else {
      const bool held = objects.MutexHeld(kInstanceMutexName);
      if (held) run_seen = true;
      if (run_seen && !held) {
        // One more look: the last chunk may have landed as the run ended.
        const int last = ReadPercentage(view->data(), view->size());
        if (last != shown && last >= 0) Show(last, terminal);
        if (last >= 100) result = 0;
        break;
      }
    }
    usleep(50 * 1000);
  }
  if (terminal && shown >= 0) std::printf("\n");
  return result;
}
