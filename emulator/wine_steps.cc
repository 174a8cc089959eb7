#include "emulator/wine_steps.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

extern char** environ;

namespace kvx::emu {

namespace {

// The environment of a program of the prefix: the caller's, with the
// prefix named and Wine's browser and .NET installers kept out.
std::vector<std::string> WineEnvironment(const WineSetup& wine) {
  std::vector<std::string> env;
  bool debug = false;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("WINEPREFIX=", 0) == 0 || entry.rfind("WINEDLLOVERRIDES=", 0) == 0) continue;
    if (entry.rfind("WINEDEBUG=", 0) == 0) debug = true;
    env.push_back(entry);
  }
  env.push_back("WINEPREFIX=" + wine.prefix);
  env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
  if (!debug) env.push_back("WINEDEBUG=-all");
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> out;
  for (std::string& w : words) out.push_back(w.data());
  out.push_back(nullptr);
  return out;
}

// Spawns `argv` with stdout to `out_fd` (or the log) and stderr to the log.
pid_t Spawn(const WineSetup& wine, std::vector<std::string> argv, int out_fd, bool new_session) {
  std::vector<std::string> env = WineEnvironment(wine);
  std::vector<char*> args = Pointers(argv), envp = Pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, wine.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  posix_spawn_file_actions_addopen(&actions, 2, wine.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (new_session) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, &attr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return pid;
}

std::string WineServer() {
  return access("/usr/bin/wineserver", X_OK) == 0 ? "/usr/bin/wineserver" : "/usr/lib/wine/wineserver64";
}

std::string Joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

}  // namespace

std::string DefaultWineLoader() {
  const char* named = std::getenv("KVX_WINE");
  // Wine's own loader runs 32-bit programs (the tool) and hands 64-bit ones
  // (the machine's pieces) on to wine64.
  return named && *named ? named : "/usr/lib/wine/wine";
}

std::string WindowsPathOf(const std::string& unix_path) {
  std::string out = "Z:" + unix_path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

bool RunWineStep(const WineSetup& wine, const std::vector<std::string>& words, std::string& output,
                 std::string& error) {
  output.clear();
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    error = "cannot make a pipe";
    return false;
  }
  std::vector<std::string> argv = {wine.loader, wine.tools + "/kvxwine.exe"};
  argv.insert(argv.end(), words.begin(), words.end());
  const pid_t pid = Spawn(wine, argv, out[1], false);
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    error = "cannot run " + wine.loader;
    return false;
  }
  const time_t until = time(nullptr) + 60;
  bool timed_out = false;
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    const int ready = poll(&p, 1, 200);
    if (ready > 0) {
      char buffer[4096];
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      output.append(buffer, static_cast<size_t>(n));
    }
    if (time(nullptr) > until) {
      timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (timed_out || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "kvxwine.exe " + Joined(words) + (timed_out ? " did not end within a minute" : " failed") +
            "; see " + wine.log;
    return false;
  }
  return true;
}

int StartWineProgram(const WineSetup& wine, const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {wine.loader, program};
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(wine, argv, -1, true);
}

bool EnsurePrefix(const WineSetup& wine, std::string& error) {
  struct stat st;
  if (stat((wine.prefix + "/system.reg").c_str(), &st) == 0) return true;
  const pid_t pid = Spawn(wine, {wine.loader, "wineboot", "-i"}, -1, false);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "cannot make the Wine prefix " + wine.prefix + "; see " + wine.log;
    return false;
  }
  // A new prefix finishes setting itself up after wineboot returns; a
  // driver started meanwhile may not answer in time.
  const pid_t wait = Spawn(wine, {WineServer(), "-w"}, -1, false);
  if (wait > 0) waitpid(wait, &status, 0);
  return true;
}

void StopPrefix(const WineSetup& wine) {
  const std::string server = WineServer();
  const pid_t pid = Spawn(wine, {server, "-k"}, -1, false);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  const pid_t wait = Spawn(wine, {server, "-w"}, -1, false);
  if (wait > 0) waitpid(wait, &status, 0);
}

}  // namespace kvx::emu
