#pragma once
#include "platform/file_system.h"
#include "platform/posix/path_map.h"

namespace kvx {

// Files and folders of the POSIX file system behind Windows paths.
class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const PathMap& paths) : paths_(paths) {}
  int Access(const std::string& path, int mode) override;
  std::unique_ptr<File> Open(const std::string& path, const char* mode, int* error) override;

 private:
  const PathMap& paths_;
};

}  // namespace kvx
