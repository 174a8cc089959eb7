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
#include <vector>

#include "app/entry.h"
#include "flash/persistent_copy.h"
#include "platform/posix/machine_folder.h"
#include "platform/posix/named_objects_posix.h"
#include "tools/tool_options.h"

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
    KVX_PROGRESS_OPTIONS_USAGE
    "\n"
    "Exit codes: 0 the copy reached 100%; 1 the run ended before that, or the\n"
    "viewer was interrupted; 2 bad arguments or no mapping could be created.\n";

}  // namespace

int main(int argc, char** argv) {
  kvx::ProgressOptions options;
  std::string bad;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const kvx::ToolArguments parsed = kvx::ParseProgressArguments(args, options, bad);
  const int outcome = kvx::ArgumentsOutcome(parsed, "kvxprogress", kUsage, bad, 2);
  if (outcome >= 0) return outcome;
  const std::string& ready = options.ready;
  const long pid = options.pid;
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

  // The watched run: a process, or the tool's run seen holding its guard.
  bool run_seen = false;
  kvx::ProgressWatch watch;
  watch.stopped = [] { return g_stop != 0; };
  watch.run_ended = [&] {
    if (pid > 0) return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    const bool held = objects.MutexHeld(kInstanceMutexName);
    if (held) run_seen = true;
    return run_seen && !held;
  };
  watch.pause = [] { usleep(50 * 1000); };
  return kvx::WatchProgress(view->data(), view->size(), isatty(STDOUT_FILENO), watch);
}
