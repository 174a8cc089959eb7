#include "platform/posix/process_posix.h"

#include <unistd.h>

#include "core/utf.h"
#include "platform/posix/path_map.h"

namespace kvx {

std::string ModuleNameFromNative(const std::string& native_path) {
  if (native_path.empty() || native_path[0] != '/') return std::string();
  std::string windows = PathMap::ToWindows(native_path);
  if (Utf16Length(windows) >= 260) return std::string();
  return windows;
}

std::string PosixProcess::ModuleFileName() {
  char buf[8192];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return std::string();
  return ModuleNameFromNative(std::string(buf, static_cast<size_t>(n)));
}

bool PosixProcess::QueryVersion(bool, OsVersion& out) {
  out.major = 10;
  out.minor = 0;
  out.build = 19041;
  out.platform_id = 2;
  return true;
}

}  // namespace kvx
