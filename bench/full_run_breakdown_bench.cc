// Where the time of a full run of the tool goes: the built QZRRemote is
// run on a command file against a fresh kvxemu with the module off, and
// this program is the machine's debugger output viewer. The kernel stamps
// each message when the tool sends it (SO_TIMESTAMPNS), so the gaps
// between the tool's own messages split its wall time into steps: the
// process start before the first message, the single-instance guard, the
// schema and the load, each step of the flash cycle with the emulator's
// round trips, the commands, the history log and the exit. The mandated
// waits fall inside three steps and are taken out of them; what remains
// is the tool's own time. The schema compile alone is also timed in
// process, since no message separates it from the load.
//
// The machine folders are made in $KVX_BENCH_MACHINES (/tmp by default):
// on a disk, the run's new files cost what the file system makes them cost,
// and a folder in memory (/dev/shm) shows what is left of the tool's own.
//
// Usage: full_run_breakdown_bench KVXEMU QZRREMOTE COMMANDS VOLUME SCHEMA [RUNS]
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/libxml2/xml_dom_libxml2.h"
#include "platform/posix/debug_channel.h"
#include "platform/posix/machine_folder.h"

extern char** environ;

namespace {

struct Message {
  double at_ms;  // since the tool was started
  std::string text;
};

// One step of the run: it begins with the first message (from `after`
// on) that starts with `first`, and ends where the next step begins.
struct Step {
  const char* name;
  const char* first;  // null: the run's start
  double wait_ms;     // the mandated wait inside the step
};

const Step kSteps[] = {
    {"process start (exec, libraries, platform, log file opened)", nullptr, 0},
    {"single-instance guard", "Before create VeskQZRGlobalMutex.", 0},
    {"command line, rights, schema path, document classes", "The VeskQZRGlobalMutex create successfully.", 0},
    {"schema compile, load and validation", "pXS.CreateInstance MSXML2::XMLSchemaCache successful.", 0},
    {"flash: status (SMBIOS table, driver, calling interface)", "BeginFlash is starting", 0},
    {"flash: power on, less the 500 ms wait", "Flash power on.", 500},
    {"flash: mount (service manager, mapping, drive), less the 1000 ms wait",
     "Begin notify service of mounting flash", 1000},
    {"flash: unlock", "Begin notify service to UnLock", 0},
    {"the commands on the volume", "BeginFlash is End", 0},
    {"flash: unmount", "Begin notify service to UnMount", 0},
    {"flash: status at the end", "When End Flash, Begin CheckFlashStatus", 0},
    {"flash: drive removed, power off, less the 500 ms wait", "EndFlash::flashstatus is 2", 500},
    {"history line, guard released", "\x01history", 0},  // the line that starts with the date
    {"console message, exit", "The Error Message return is", 0},
};
constexpr size_t kStepCount = sizeof kSteps / sizeof kSteps[0];

double Now() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The history line: "YYYY-MM-DD HH:MM, ".
bool IsHistoryLine(const std::string& text) {
  return text.size() > 18 && text[4] == '-' && text[7] == '-' && text[13] == ':' && text[16] == ',';
}

bool Begins(const Step& step, const std::string& text) {
  if (std::strcmp(step.first, "\x01history") == 0) return IsHistoryLine(text);
  return StartsWith(text, step.first);
}

int Run(const std::vector<std::string>& args, const std::vector<std::string>& extra_env, bool quiet) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (quiet) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
    }
    for (const std::string& e : extra_env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads every message waiting on `socket`, with the time it was sent.
void Drain(int socket, double start, std::vector<Message>& out) {
  while (true) {
    char text[kvx::kDebugMessageLimit + 1];
    char control[CMSG_SPACE(sizeof(timespec))];
    iovec io{text, sizeof text - 1};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(socket, &msg, MSG_DONTWAIT);
    if (n < 0) return;
    double at = Now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec t;
        std::memcpy(&t, CMSG_DATA(c), sizeof t);
        at = t.tv_sec * 1e3 + t.tv_nsec / 1e6;
      }
    }
    out.push_back({at - start, std::string(text, static_cast<size_t>(n))});
  }
}

struct RunResult {
  bool ok = false;
  double wall_ms = 0;
  double cpu_ms = 0;  // the tool's user and system time
  double switches = 0;  // the times it waited: for the emulator, a sleep, a lock
  double step_ms[kStepCount] = {};
  size_t messages = 0;
};

std::string MachinesBase() {
  const char* base = std::getenv("KVX_BENCH_MACHINES");
  return base != nullptr && *base ? base : "/tmp";
}

// One full run on a fresh machine, the viewer bound to its folder.
RunResult OneRun(const std::string& kvxemu, const std::string& tool, const std::string& commands,
                 const std::string& volume) {
  RunResult result;
  std::string folder_template = MachinesBase() + "/kvx-breakdown-XXXXXX";
  if (mkdtemp(folder_template.data()) == nullptr) return result;
  const std::string folder = folder_template;
  const std::string prefix = std::string(kvx::kMachineFolderVariable) + "=" + folder;
  sockaddr_un addr;
  socklen_t len = 0;
  int folder_fd = -1;
  const int viewer = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (viewer < 0 || !kvx::DebugChannelAddress(folder, addr, len, folder_fd) ||
      bind(viewer, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      setsockopt(viewer, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) {
    std::perror("full_run_breakdown_bench: the viewer's socket");
    return result;
  }
  std::vector<Message> messages;
  int code = -1;
  if (Run({kvxemu, "up", "--volume", volume, "--power", "off"}, {prefix}, true) == 0) {
    Drain(viewer, 0, messages);  // the emulator's own messages, if any
    messages.clear();
    const double start = Now();
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      putenv(const_cast<char*>(prefix.c_str()));
      execl(tool.c_str(), tool.c_str(), commands.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // The tool's end is seen at once through a descriptor of the process;
    // without one, by polling every millisecond.
    const int process = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
      pollfd p[2] = {{viewer, POLLIN, 0}, {process, POLLIN, 0}};
      poll(p, process >= 0 ? 2 : 1, process >= 0 ? -1 : 1);
      if (process >= 0 && (p[1].revents & POLLIN)) {
        result.wall_ms = Now() - start;
        wait4(pid, &status, 0, &usage);
        break;
      }
      Drain(viewer, start, messages);
    }
    if (result.wall_ms == 0) result.wall_ms = Now() - start;
    if (process >= 0) close(process);
    result.switches = static_cast<double>(usage.ru_nvcsw);
    result.cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    Drain(viewer, start, messages);
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    Run({kvxemu, "down"}, {prefix}, true);
  }
  close(viewer);
  if (folder_fd >= 0) close(folder_fd);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);

  // Each step from where it begins to where the next one does.
  double begin[kStepCount + 1];
  begin[0] = 0;
  size_t at = 0;
  bool found = code == 0;
  for (size_t s = 1; s < kStepCount && found; ++s) {
    while (at < messages.size() && !Begins(kSteps[s], messages[at].text)) ++at;
    found = at < messages.size();
    if (found) begin[s] = messages[at].at_ms;
  }
  if (!found) {
    std::fprintf(stderr, "full_run_breakdown_bench: the run ended with %d, or a step's message was missing\n",
                 code);
    return result;
  }
  begin[kStepCount] = result.wall_ms;
  // KVX_BENCH_TIMELINE names a file that gets each message of the last
  // run with its send time and the gap since the one before, for finding
  // where a step's time goes.
  if (const char* timeline = std::getenv("KVX_BENCH_TIMELINE"); timeline != nullptr && *timeline) {
    if (FILE* out = std::fopen(timeline, "w")) {
      double last = 0;
      for (const Message& m : messages) {
        std::fprintf(out, "%9.3f %+8.3f %s\n", m.at_ms, m.at_ms - last, m.text.c_str());
        last = m.at_ms;
      }
      std::fclose(out);
    }
  }
  for (size_t s = 0; s < kStepCount; ++s) result.step_ms[s] = begin[s + 1] - begin[s] - kSteps[s].wait_ms;
  result.messages = messages.size();
  result.ok = true;
  return result;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "Usage: %s KVXEMU QZRREMOTE COMMANDS VOLUME SCHEMA [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 6 ? std::max(1, std::atoi(argv[6])) : 5;
  std::vector<RunResult> results;
  for (int i = 0; i < runs; ++i) {
    RunResult r = OneRun(argv[1], argv[2], argv[3], argv[4]);
    if (!r.ok) return 1;
    results.push_back(r);
  }

  // The schema compile alone, in process, as the loader makes it.
  auto xml = kvx::CreateLibxml2Services([](const std::string& w, std::string& n) {
    n = w;
    return true;
  });
  std::vector<double> compile;
  for (int i = 0; i < 20; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = xml->CreateSchemaCache(kvx::XmlClassVersion::k60)->Add("", argv[5]);
    compile.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!ok) return 1;
  }

  std::printf("full run of %s, module off, machine folder in %s: the tool's own time by step\n",
              std::filesystem::path(argv[3]).filename().c_str(), MachinesBase().c_str());
  std::printf("(median of %d runs, from the send times of its %zu debugger messages)\n", runs,
              results[0].messages);
  double own = 0;
  for (size_t s = 0; s < kStepCount; ++s) {
    std::vector<double> v;
    for (const RunResult& r : results) v.push_back(r.step_ms[s]);
    std::printf("  %-72s %7.2f ms\n", kSteps[s].name, Median(v));
  }
  std::vector<double> walls, owns, cpus, switches;
  for (const RunResult& r : results) {
    walls.push_back(r.wall_ms);
    cpus.push_back(r.cpu_ms);
    switches.push_back(r.switches);
    double sum = 0;
    for (double ms : r.step_ms) sum += ms;
    owns.push_back(sum);
  }
  own = Median(owns);
  std::printf("  %-72s %7.2f ms\n", "own time (wall time less the 2000 ms of waits)", own);
  std::printf("  %-72s %7.1f ms\n", "wall time", Median(walls));
  std::printf("  %-72s %7.2f ms\n", "the tool's CPU time (user and system; the rest is waiting)", Median(cpus));
  std::printf("  %-72s %7.0f\n", "times it waited (emulator replies, sleeps, locks), each a wake-up",
              Median(switches));
  std::printf("  %-72s %7.2f ms\n", "of the schema step: the schema compile alone, in process", Median(compile));
  return 0;
}
