#include "core/path_exists.h"

#include "core/diag.h"

namespace kvx {

bool PathExists(FileSystem& files, DebugOutput& debug, const std::string& path) {
  const int error = files.Access(path, 0);
  if (error == 0) return true;
  Diag(debug, "_waccess return Error, and the error number is %d", error);
  return false;
}

}  // namespace kvx
