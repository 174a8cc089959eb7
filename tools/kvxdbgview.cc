// kvxdbgview: the viewer of the debugger output stream of a machine folder.
// It binds the machine's debugger endpoint and prints each message that
// any program sends, one per line, until it is stopped.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/debug_channel.h"
#include "platform/posix/machine_folder.h"
#include "tools/tool_options.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    "Usage: kvxdbgview [--ready FILE] [--output FILE]\n"
    "\n"
    "Shows the debugger output of the programs of one machine folder (the\n"
    "folder named by KVXPREFIX, or ~/.kvx): each message on a line of its own,\n"
    "a line end at the message's end dropped. Runs until interrupted (Ctrl-C\n"
    "or SIGTERM); messages already sent are still printed before it ends.\n"
    "\n"
    KVX_DBGVIEW_OPTIONS_USAGE
    "\n"
    "Exit codes: 0 stopped; 1 bad arguments; 2 the endpoint cannot be bound\n"
    "(another viewer is attached to this machine folder, or the folder cannot\n"
    "be created).\n";

}  // namespace

int main(int argc, char** argv) {
  kvx::DbgviewOptions options;
  std::string bad;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const kvx::ToolArguments parsed = kvx::ParseDbgviewArguments(args, options, bad);
  const int outcome = kvx::ArgumentsOutcome(parsed, "kvxdbgview", kUsage, bad, 1);
  if (outcome >= 0) return outcome;
  const std::string& ready = options.ready;
  const std::string& output = options.output;

  if (!kvx::EnsureMachineDir("", false)) {
    std::fprintf(stderr, "kvxdbgview: cannot create the machine folder %s: %s\n",
                 kvx::MachineFolder().c_str(), std::strerror(errno));
    return 2;
  }
  sockaddr_un addr;
  socklen_t len;
  int folder_fd;
  if (!kvx::DebugChannelAddress(kvx::MachineFolder(), addr, len, folder_fd)) {
    std::fprintf(stderr, "kvxdbgview: cannot reach the machine folder %s\n",
                 kvx::MachineFolder().c_str());
    return 2;
  }
  const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  // A bound endpoint that answers belongs to a live viewer; one that does
  // not is left over from a viewer that died, and is replaced.
  if (connect(sock, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
    std::fprintf(stderr, "kvxdbgview: another viewer is attached to %s\n",
                 kvx::MachineFolder().c_str());
    return 2;
  }
  close(sock);
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  unlink(addr.sun_path);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    std::fprintf(stderr, "kvxdbgview: cannot bind %s/%s: %s\n", kvx::MachineFolder().c_str(),
                 kvx::kDebugSocketName, std::strerror(errno));
    return 2;
  }
  chmod(addr.sun_path, 0666);  // every user's programs may write to it
  int buffer_size = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof buffer_size);

  FILE* out = stdout;
  if (!output.empty() && (out = std::fopen(output.c_str(), "w")) == nullptr) {
    std::fprintf(stderr, "kvxdbgview: cannot write %s: %s\n", output.c_str(), std::strerror(errno));
    unlink(addr.sun_path);
    return 2;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!ready.empty()) {
    if (FILE* r = std::fopen(ready.c_str(), "w")) std::fclose(r);
  }

  std::vector<char> buf(kvx::kDebugMessageLimit + 1);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, g_stop ? 0 : 200);
    if (n > 0) {
      const ssize_t got = recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
      if (got >= 0) kvx::PrintDebugMessage(out, buf.data(), static_cast<size_t>(got));
      continue;
    }
    if (g_stop) break;  // stopped, and nothing is left to read
  }
  if (out != stdout) std::fclose(out);
  unlink(addr.sun_path);
  if (folder_fd >= 0) close(folder_fd);
  close(fd);
  return 0;
}
