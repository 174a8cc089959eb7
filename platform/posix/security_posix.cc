#include "platform/posix/security_posix.h"

#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/machine_folder.h"

extern char** environ;

namespace kvx {

namespace {

std::string FindOnPath(const std::string& search_path, const std::string& name) {
  size_t start = 0;
  while (start <= search_path.size()) {
    size_t end = search_path.find(':', start);
    if (end == std::string::npos) end = search_path.size();
    std::string dir = search_path.substr(start, end - start);
    if (dir.empty()) dir.push_back('.');  // an empty entry names the working folder
    const std::string candidate = dir + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return std::string();
}

}  // namespace

AdminGroupState AdminGroupFromIds(unsigned uid, unsigned euid,
                                  const std::vector<std::string>& group_names) {
  AdminGroupState state;
  state.member = uid == 0 || euid == 0;
  for (const std::string& g : group_names)
    if (g == "sudo" || g == "wheel" || g == "admin") state.member = true;
  state.enabled = state.member && euid == 0;
  return state;
}

std::vector<std::string> ElevatedCommandLine(const std::string& search_path,
                                             const std::string& machine_folder,
                                             const std::string& working_folder,
                                             const std::string& executable,
                                             const std::vector<std::string>& arguments) {
  std::vector<std::string> argv;
  const std::string sudo = FindOnPath(search_path, "sudo");
  if (!sudo.empty()) {
    argv = {sudo, "--"};
  } else if (const std::string pkexec = FindOnPath(search_path, "pkexec"); !pkexec.empty()) {
    argv = {pkexec};
  } else {
    return argv;
  }
  // "$0" names the script in messages; "$1" to "$3" and the arguments
  // after them are data only. A relative program path gets "./" so that it
  // cannot read as an option.
  const std::string program = executable.empty() || executable[0] == '/' ? executable
                                                                          : "./" + executable;
  argv.insert(argv.end(),
              {"/bin/sh", "-c",
               "cd -- \"$1\" || exit 126; " + std::string(kMachineFolderVariable) +
                   "=\"$2\"; export " + kMachineFolderVariable +
                   "; program=\"$3\"; shift 3; exec \"$program\" \"$@\"",
               "QZRRemote", working_folder, machine_folder, program});
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

bool PosixSecurity::ReadAdminGroup(AdminGroupState& out) {
  out = AdminGroupState();
  const int count = getgroups(0, nullptr);
  if (count < 0) return false;
  std::vector<gid_t> gids(static_cast<size_t>(count) + 2);
  const int n = getgroups(count, gids.data());
  if (n < 0) return false;
  gids.resize(static_cast<size_t>(n));
  gids.push_back(getgid());
  gids.push_back(getegid());
  std::vector<std::string> names;
  for (gid_t gid : gids) {
    group g;
    group* found = nullptr;
    char buf[16384];
    if (getgrgid_r(gid, &g, buf, sizeof buf, &found) == 0 && found != nullptr)
      names.emplace_back(found->gr_name);
  }
  out = AdminGroupFromIds(getuid(), geteuid(), names);
  return true;
}

void PosixSecurity::LaunchElevated(const std::string& executable,
                                   const std::vector<std::string>& arguments) {
  std::string native;
  if (!paths_.ToNative(executable, native)) return;
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) return;
  const char* path = std::getenv("PATH");
  const std::vector<std::string> args =
      ElevatedCommandLine(path ? path : "/usr/bin:/bin", MachineFolder(), cwd, native, arguments);
  if (args.empty()) return;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  // Not waited for: the elevated copy runs on its own after this copy ends.
  posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
}

}  // namespace kvx
