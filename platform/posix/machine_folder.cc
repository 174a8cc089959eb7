#include "platform/posix/machine_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kvx {

namespace {

std::string ReadMachineFolder() {
  const char* prefix = std::getenv(kMachineFolderVariable);
  std::string folder;
  if (prefix != nullptr && *prefix != '\0') {
    folder = prefix;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    folder = std::string(home) + "/.kvx";
  } else {
    folder = "/tmp/.kvx-" + std::to_string(getuid());
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

bool MakeDir(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) == 0) {
    chmod(path.c_str(), mode);  // not narrowed by the umask
    return true;
  }
  return errno == EEXIST;
}

}  // namespace

const std::string& MachineFolder() {
  static const std::string folder = ReadMachineFolder();
  return folder;
}

std::string MachinePath(const std::string& relative) { return MachineFolder() + "/" + relative; }

bool EnsureMachineDir(const std::string& relative, bool shared_by_all_users) {
  const std::string& root = MachineFolder();
  // Create the machine folder's own parents as an ordinary mkdir -p would.
  for (size_t slash = root.find('/', 1); slash != std::string::npos;
       slash = root.find('/', slash + 1))
    MakeDir(root.substr(0, slash), 0755);
  if (!MakeDir(root, 0755)) return false;
  if (relative.empty()) return true;
  return MakeDir(MachinePath(relative), shared_by_all_users ? 01777 : 0755);
}

}  // namespace kvx
