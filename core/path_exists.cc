#include "core/path_exists.h"

#include "core/diag.h"

namespace kvx {

bool PathExists(FileSystem& files, DebugOutput& debug, const std::string& path) {
  const int error = files.Access(path, 0);
  if (error == 0) return true;
  Diag(debug, "_waccess return Error, and the error number is %d", error);
  return false;
}

bool StaysInside(FileSystem& files, DebugOutput& debug, const std::string& folder,
                 const std::string& path) {
  if (files.IsWithin(folder, path)) return true;
  Diag(debug, "%s leads out of %s and is passed over.", path.c_str(), folder.c_str());
  return false;
}

bool StaysInItsFolder(FileSystem& files, DebugOutput& debug, const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos || cut == 0) return true;
  // "C:\x" is held by "C:\", the drive's root.
  const std::string folder = path.substr(0, cut == 2 && path[1] == ':' ? cut + 1 : cut);
  return StaysInside(files, debug, folder, path);
}

}  // namespace kvx
