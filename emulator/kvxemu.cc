// kvxemu: the emulated machine around the tool (service control manager,
// kernel I/O driver, firmware, flash module, companion service) for one
// machine folder, run in the background and reached through its socket.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/machine.h"
#include "emulator/wine_steps.h"
#include "platform/posix/debug_channel.h"
#include "platform/posix/emu_wire.h"
#include "platform/posix/machine_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "Usage: kvxemu [--prefix DIR] COMMAND ...\n"
    "The emulated machine of the Remote command tool, for one machine folder\n"
    "(DIR, or $KVXPREFIX, or ~/.kvx).\n"
    "\n"
    "  up [--volume DIR [--in-place]] [--power on|off] [--wine TOOLS]\n"
    "        start it in the background; returns once it answers. The flash\n"
    "        volume is a copy of DIR (or DIR itself with --in-place; an empty\n"
    "        volume without --volume); the module starts powered off unless\n"
    "        --power on. With --wine, the machine folder is also a Wine prefix\n"
    "        (made if it is not one) in which the Windows tool runs: the driver\n"
    "        kvxio_x64.sys, the service KvxMDES.exe, the management stand-in\n"
    "        kvxwmi.dll (and kvxwmi32.dll for 32-bit callers) and kvxwine.exe\n"
    "        from the folder TOOLS (the 64-bit Windows build's tools/) are\n"
    "        installed and started there, and hand every request on to this\n"
    "        machine. The Wine loader is $KVX_WINE, or /usr/lib/wine/wine.\n"
    "  down  stop it and remove what it put in the machine folder.\n"
    "  ctl state\n"
    "        print the whole state as JSON.\n"
    "  ctl set KNOB=VALUE ...\n"
    "        set fault knobs (see the README's emulator section):\n"
    "          scm=on|off  scm_opens_left=N|-1  driver=running|stopped|absent\n"
    "          driver_file=present|missing  status_result=N  status_byte=auto|N\n"
    "          calling_interface=ok|fail  reply_length=N  power_on=ok|fail\n"
    "          power_off=ok|fail  power=on|off  service=running|paused|stopped|absent\n"
    "          refuse=CODE,...|none  mount_empty=on|off  mounts_not_answering=N\n"
    "          user_mutex_hold_ms=N  mappings=present|missing  log=clear\n"
    "        (under Wine, scm, scm_opens_left and driver_file=present are\n"
    "        not available: the service manager is Wine's own)\n"
    "\n"
    "Exit codes: 0 done, 1 failed, 2 bad usage.\n";

std::string EmuDir() { return kvx::MachinePath(kvx::kEmuFolder); }

std::unique_ptr<kvx::EmuConnection> Connect() { return kvx::EmuConnection::Connect(kvx::MachineFolder()); }

bool Answers() {
  auto c = Connect();
  return c && c->Call({"ping"})[0] == "ok";
}

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

void ServeConnection(int fd, kvx::emu::Machine& machine) {
  kvx::Fields request;
  while (!g_stop && kvx::ReceiveFields(fd, request)) {
    if (request.empty()) break;
    kvx::Fields reply;
    if (request[0] == "ctl.state") {
      reply = {"ok", machine.StateJson()};
    } else if (request[0] == "ctl.set" && request.size() == 3) {
      std::string error;
      reply = machine.SetKnob(request[1], request[2], error) ? kvx::Fields{"ok"}
                                                            : kvx::Fields{"err", "87", error};
    } else if (request[0] == "ctl.stop") {
      reply = {"ok"};
      g_stop = true;
    } else {
      reply = machine.Handle(request);
    }
    if (!kvx::SendFields(fd, reply)) break;
  }
  close(fd);
}

// Listens on 127.0.0.1 at a port of the system's choice and names it in
// emu/kvxemu.port (written beside and renamed, so a reader never sees half).
bool ListenOnLoopback(int& fd) {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::perror("kvxemu: loopback port");
    return false;
  }
  const std::string path = EmuDir() + "/kvxemu.port";
  {
    std::ofstream out(path + ".new", std::ios::trunc);
    out << ntohs(addr.sin_port) << "\n";
    if (!out.flush()) return false;
  }
  return std::rename((path + ".new").c_str(), path.c_str()) == 0;
}

// The machine itself: runs until told to stop, signalled, or its folder
// goes away.
int Serve(const std::string& volume, bool powered, const kvx::emu::WineSetup* wine) {
  const std::string folder = kvx::MachineFolder();
  struct stat home;
  if (stat(folder.c_str(), &home) != 0) return 1;
  kvx::emu::WineStep step;
  if (wine) {
    step = [setup = *wine](const std::vector<std::string>& words, std::string& output, std::string& error) {
      return kvx::emu::RunWineStep(setup, words, output, error);
    };
  }
  kvx::emu::Machine machine(folder, volume, powered, step);
  std::string error;
  if (!machine.Start(error)) {
    std::fprintf(stderr, "kvxemu: %s\n", error.c_str());
    return 1;
  }
  sockaddr_un addr;
  socklen_t len = 0;
  int folder_fd = -1;
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0 || !kvx::SocketAddressIn(EmuDir(), kvx::kEmuSocketName, addr, len, folder_fd)) return 1;
  unlink((EmuDir() + "/" + kvx::kEmuSocketName).c_str());
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(listener, 16) != 0) {
    std::perror("kvxemu: bind");
    return 1;
  }
  // Under Wine the machine's pieces reach it through a TCP port of the
  // loopback interface (Wine's sockets have no Unix domain), named in
  // emu/kvxemu.port.
  int tcp = -1;
  if (wine && !ListenOnLoopback(tcp)) return 1;
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  signal(SIGPIPE, SIG_IGN);
  while (!g_stop) {
    pollfd p[2] = {{listener, POLLIN, 0}, {tcp, POLLIN, 0}};
    if (poll(p, tcp >= 0 ? 2 : 1, 50) > 0) {
      for (const pollfd& ready : p) {
        if (ready.fd < 0 || !(ready.revents & POLLIN)) continue;
        const int fd = accept4(ready.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) std::thread(ServeConnection, fd, std::ref(machine)).detach();
      }
    }
    // A machine whose folder went away stops by itself.
    struct stat now;
    if (stat(folder.c_str(), &now) != 0 || now.st_ino != home.st_ino || now.st_dev != home.st_dev) {
      _exit(0);
    }
  }
  machine.Stop();
  close(listener);
  unlink((EmuDir() + "/" + kvx::kEmuSocketName).c_str());
  if (folder_fd >= 0) close(folder_fd);
  _exit(0);  // connection threads may still be blocked on their sockets
}

int Down();

// The pieces inside Wine: the relay to this machine's port, then the
// driver, the companion service and the management stand-in installed and
// started in the prefix.
bool StartWineSide(const kvx::emu::WineSetup& wine) {
  std::string port;
  std::ifstream(EmuDir() + "/kvxemu.port") >> port;
  const int relay = kvx::emu::StartWineProgram(wine, wine.tools + "/kvxwine.exe", {"serve", port});
  if (port.empty() || relay < 0) {
    std::fprintf(stderr, "kvxemu: cannot start the relay inside Wine\n");
    return false;
  }
  std::ofstream(EmuDir() + "/kvxwine.pid") << relay << "\n";
  const std::string tables = kvx::MachinePath("firmware/dmi/tables/DMI");
  std::string output, error;
  if (!kvx::emu::RunWineStep(wine,
                             {"install", kvx::emu::WindowsPathOf(wine.tools + "/kvxio_x64.sys"),
                              kvx::emu::WindowsPathOf(wine.tools + "/KvxMDES.exe"),
                              kvx::emu::WindowsPathOf(wine.tools + "/kvxwmi.dll"),
                              kvx::emu::WindowsPathOf(wine.tools + "/kvxwmi32.dll"),
                              "\\??\\" + kvx::emu::WindowsPathOf(EmuDir() + "/physmem"),
                              kvx::emu::WindowsPathOf(tables)},
                             output, error)) {
    std::fprintf(stderr, "kvxemu: %s\n", error.c_str());
    return false;
  }
  // The machine starts with an empty log, as on POSIX: what the
  // installation made the service report is not the tool's.
  auto c = Connect();
  return c && c->Call({"ctl.set", "log", "clear"})[0] == "ok";
}

int Up(const std::vector<std::string>& args) {
  std::string source, wine_tools;
  bool in_place = false, powered = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--wine" && i + 1 < args.size()) {
      wine_tools = fs::absolute(args[++i]).lexically_normal().string();
    } else if (args[i] == "--volume" && i + 1 < args.size()) {
      source = args[++i];
    } else if (args[i] == "--in-place") {
      in_place = true;
    } else if (args[i] == "--power" && i + 1 < args.size() && (args[i + 1] == "on" || args[i + 1] == "off")) {
      powered = args[++i] == "on";
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  const std::string folder = kvx::MachineFolder();
  if (Answers()) {
    std::fprintf(stderr, "kvxemu: already running for %s\n", folder.c_str());
    return 1;
  }
  std::error_code ec;
  fs::create_directories(EmuDir(), ec);
  kvx::emu::WineSetup wine{kvx::emu::DefaultWineLoader(), folder, wine_tools, EmuDir() + "/kvxwine.log"};
  if (!wine_tools.empty()) {
    for (const char* piece : {"kvxwine.exe", "kvxio_x64.sys", "KvxMDES.exe", "kvxwmi.dll", "kvxwmi32.dll"}) {
      if (!fs::is_regular_file(wine_tools + "/" + piece)) {
        std::fprintf(stderr, "kvxemu: %s is not in %s\n", piece, wine_tools.c_str());
        return 1;
      }
    }
    std::string error;
    if (!kvx::emu::EnsurePrefix(wine, error)) {
      std::fprintf(stderr, "kvxemu: %s\n", error.c_str());
      return 1;
    }
    std::ofstream(EmuDir() + "/wine") << wine.loader << "\n" << wine.tools << "\n";
  }
  fs::create_directories(folder + "/dosdevices", ec);
  std::string volume = EmuDir() + "/volume";
  if (!source.empty() && !fs::is_directory(source)) {
    std::fprintf(stderr, "kvxemu: the volume %s is not a folder\n", source.c_str());
    return 1;
  }
  if (in_place && !source.empty()) {
    volume = fs::absolute(source).lexically_normal().string();
  } else {
    fs::remove_all(volume, ec);
    fs::create_directories(volume, ec);
    if (!source.empty()) {
      fs::copy(source, volume, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
      if (ec) {
        std::fprintf(stderr, "kvxemu: cannot copy the volume: %s\n", ec.message().c_str());
        return 1;
      }
    }
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    // The machine keeps nothing of its starter's: no terminal, no pipe
    // that would hold a reader of `up` waiting for its end.
    setsid();
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int log = open((EmuDir() + "/kvxemu.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (null < 0 || log < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(log, 2) < 0) _exit(1);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    _exit(Serve(volume, powered, wine_tools.empty() ? nullptr : &wine));
  }
  std::ofstream(EmuDir() + "/kvxemu.pid") << child << "\n";
  for (int i = 0; i < 1000; ++i) {
    if (Answers()) {
      if (!wine_tools.empty() && !StartWineSide(wine)) {
        // What the Windows side said goes with the machine: show it first.
        std::ifstream said(wine.log);
        std::string line;
        while (std::getline(said, line)) std::fprintf(stderr, "  %s\n", line.c_str());
        Down();
        return 1;
      }
      std::printf("kvxemu: up for %s (pid %d), module %s, volume %s%s\n", folder.c_str(), child,
                  powered ? "on" : "off", volume.c_str(), wine_tools.empty() ? "" : ", under Wine");
      return 0;
    }
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) break;
    usleep(10000);
  }
  std::fprintf(stderr, "kvxemu: the machine did not come up; see %s/kvxemu.log\n", EmuDir().c_str());
  kill(child, SIGKILL);
  return 1;
}

// Whether `pid` still runs; a process that ended but was not yet reaped by
// its new parent counts as ended.
bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return kill(pid, 0) == 0;
  const size_t paren = line.rfind(')');
  return paren == std::string::npos || paren + 2 >= line.size() || line[paren + 2] != 'Z';
}

int Down() {
  pid_t pid = 0;
  std::ifstream(EmuDir() + "/kvxemu.pid") >> pid;
  auto c = Connect();
  const bool running = c && c->Call({"ctl.stop"})[0] == "ok";
  c.reset();
  if (running && pid > 0) {
    for (int i = 0; i < 500 && Alive(pid); ++i) usleep(5000);
  }
  // A machine under Wine takes its prefix's processes with it.
  std::ifstream wine_file(EmuDir() + "/wine");
  kvx::emu::WineSetup wine{"", kvx::MachineFolder(), "", EmuDir() + "/kvxwine.log"};
  if (std::getline(wine_file, wine.loader) && std::getline(wine_file, wine.tools)) kvx::emu::StopPrefix(wine);
  std::error_code ec;
  fs::remove_all(EmuDir(), ec);
  const std::string dosdevices = kvx::MachinePath("dosdevices");
  if (fs::is_empty(dosdevices, ec)) fs::remove(dosdevices, ec);
  if (!running) {
    std::fprintf(stderr, "kvxemu: not running for %s\n", kvx::MachineFolder().c_str());
    return 1;
  }
  std::printf("kvxemu: down for %s\n", kvx::MachineFolder().c_str());
  return 0;
}

int Ctl(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  auto c = Connect();
  if (!c) {
    std::fprintf(stderr, "kvxemu: not running for %s\n", kvx::MachineFolder().c_str());
    return 1;
  }
  if (args[0] == "state" && args.size() == 1) {
    const kvx::Fields reply = c->Call({"ctl.state"});
    if (reply[0] != "ok" || reply.size() < 2) return 1;
    std::fputs(reply[1].c_str(), stdout);
    return 0;
  }
  if (args[0] == "set" && args.size() > 1) {
    for (size_t i = 1; i < args.size(); ++i) {
      const size_t eq = args[i].find('=');
      if (eq == std::string::npos) {
        std::fprintf(stderr, "kvxemu: expected KNOB=VALUE, not %s\n", args[i].c_str());
        return 2;
      }
      const kvx::Fields reply = c->Call({"ctl.set", args[i].substr(0, eq), args[i].substr(eq + 1)});
      if (reply[0] != "ok") {
        std::fprintf(stderr, "kvxemu: %s\n", reply.size() > 2 ? reply[2].c_str() : "not set");
        return 2;
      }
    }
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--prefix") {
    setenv(kvx::kMachineFolderVariable, fs::absolute(args[1]).string().c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "up") return Up(args);
  if (command == "down" && args.empty()) return Down();
  if (command == "ctl") return Ctl(args);
  std::fputs(kUsage, stderr);
  return 2;
}
