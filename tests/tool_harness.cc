#include "tests/tool_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

namespace kvx::testing {

namespace {

std::vector<char*> CStrings(const std::vector<std::string>& v) {
  std::vector<char*> out;
  for (const std::string& s : v) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

[[noreturn]] void Exec(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const std::string& cwd) {
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
  std::vector<char*> a = CStrings(argv), e = CStrings(env);
  execve(a[0], a.data(), e.data());
  _exit(127);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

bool CanRunAsOtherUser() { return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0; }

pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& cwd, const std::string& out_file) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(out_file.empty() ? "/dev/null" : out_file.c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    Exec(argv, env, cwd);
  }
  return pid;
}

int WaitProgram(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& cwd) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    close(out[0]);
    close(err[0]);
    close(out[1]);
    close(err[1]);
    Exec(argv, env, cwd);
  }
  close(out[1]);
  close(err[1]);
  RunResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_count = 2;
  char buf[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  result.exit_code = WaitProgram(pid);
  return result;
}

bool WaitForFile(const std::string& path, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (access(path.c_str(), F_OK) != 0) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

DebugViewer::DebugViewer(const std::string& machine_folder) {
  const std::string ready = dir_ / "ready";
  pid_ = StartProgram({KVX_DBGVIEW_PATH, "--ready", ready, "--output", dir_ / "out"},
                      {"KVXPREFIX=" + machine_folder}, "", dir_ / "stderr");
  WaitForFile(ready, 20);
}

DebugViewer::~DebugViewer() { Stop(); }

std::vector<std::string> DebugViewer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    WaitProgram(pid_);
    pid_ = -1;
  }
  return Lines();
}

std::vector<std::string> DebugViewer::Lines() const { return SplitLines(ReadFile(dir_ / "out")); }

bool DebugViewer::WaitForLine(const std::string& line, int seconds) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    for (const std::string& l : Lines())
      if (l == line) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

ToolSandbox::ToolSandbox() {
  for (const char* dir : {"bin", "machine", "work"}) {
    MakeDirs(root_ / dir);
    chmod((root_ / dir).c_str(), 0777);
  }
  namespace fs = std::filesystem;
  // The tool (some 50 MB with its libraries inside) is linked into the
  // sandbox when both are on one file system, copied otherwise.
  std::error_code linked;
  fs::create_hard_link(KVX_TOOL_PATH, tool(), linked);
  if (linked) fs::copy_file(KVX_TOOL_PATH, tool());
  fs::copy_file(KVX_SCHEMA_PATH, bin() + "/KVXRemoteCmd.xsd");
  chmod(tool().c_str(), 0755);
  chmod((bin() + "/KVXRemoteCmd.xsd").c_str(), 0644);
}

std::vector<std::string> ToolSandbox::Env(const RunOptions& options) const {
  std::vector<std::string> env = {"PATH=" + (options.path.empty() ? "/usr/bin:/bin" : options.path),
                                  "KVXPREFIX=" + machine()};
  env.insert(env.end(), options.env.begin(), options.env.end());
  return env;
}

std::vector<std::string> ToolSandbox::CommandLine(const std::vector<std::string>& args,
                                                  const RunOptions& options) const {
  std::vector<std::string> argv;
  if (options.as_other_user) {
    argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(options.uid),
            "--regid=" + std::to_string(options.gid)};
    if (options.groups.empty()) {
      argv.push_back("--clear-groups");
    } else {
      std::string list;
      for (unsigned g : options.groups) {
        if (!list.empty()) list += ',';
        list += std::to_string(g);
      }
      argv.push_back("--groups=" + list);
    }
  }
  argv.push_back(tool());
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

RunResult ToolSandbox::Run(const std::vector<std::string>& args, const RunOptions& options) const {
  return RunProgram(CommandLine(args, options), Env(options),
                    options.cwd.empty() ? work() : options.cwd);
}

}  // namespace kvx::testing
