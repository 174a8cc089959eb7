#pragma once
#include <cstddef>
#include <memory>
#include <string>

namespace kvx {

// An open run-time stream on a file.
class File {
 public:
  virtual ~File() = default;
  // Writes all bytes; false on a short or failed write.
  virtual bool Write(const void* data, size_t size) = 0;
  // Pushes buffered bytes to the file; false on failure.
  virtual bool Flush() = 0;
};

// Files and folders, addressed by Windows path strings (drive letters, "\"
// or "/" separators, relative paths against the working folder).
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The run-time access check: 0 when a file or folder at `path` allows
  // `mode` (0 existence, 2 write, 4 read, 6 read and write), otherwise the
  // run-time error number (ENOENT, EACCES, ...).
  virtual int Access(const std::string& path, int mode) = 0;
  // Opens a stream like the run-time's fopen with `mode` ("r", "w+", "rb",
  // "wb", ...). Null on failure, with `error` set to the error number.
  virtual std::unique_ptr<File> Open(const std::string& path, const char* mode, int* error) = 0;
};

}  // namespace kvx
