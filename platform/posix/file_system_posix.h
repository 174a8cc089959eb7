#pragma once
#include <string>

#include "platform/debug_output.h"
#include "platform/file_system.h"
#include "platform/posix/path_map.h"

namespace kvx {

// Files and folders of the POSIX file system behind Windows paths.
// Read-only is the owner's write permission; hidden is a name beginning
// with "." or the hidden bit kept in the extended attribute
// "user.DOSATTRIB" (as Wine and Samba keep it), which also holds the
// system bit. As on Windows, a read-only file cannot be deleted.
class PosixFileSystem : public FileSystem {
 public:
  // `temp_folder` is the native folder that serves as the temp folder;
  // `debug`, when given, hears of the names that enumeration passes over.
  PosixFileSystem(const PathMap& paths, std::string temp_folder, DebugOutput* debug = nullptr)
      : paths_(paths), temp_(std::move(temp_folder)), debug_(debug) {}
  int Access(const std::string& path, int mode) override;
  std::unique_ptr<File> Open(const std::string& path, const char* mode, int* error) override;
  std::unique_ptr<File> CreateNew(const std::string& path, int* error) override;
  bool FindFiles(const std::string& pattern, std::vector<FindEntry>& out) override;
  uint32_t GetAttributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
  bool GetLastWriteTime(const std::string& path, int64_t& time) override;
  bool DeleteFile(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  bool ReplaceFile(const std::string& from, const std::string& to) override;
  bool SyncName(const std::string& path) override;
  std::string TempFolder() override;
  bool CreateTempFile(const std::string& folder, const std::string& prefix,
                      std::string& path) override;
  bool SameFile(const std::string& a, const std::string& b) override;
  bool IsWithin(const std::string& folder, const std::string& path) override;

 private:
  const PathMap& paths_;
  std::string temp_;
  DebugOutput* debug_;
};

// The Windows error number for a POSIX errno value.
int WindowsErrorFromErrno(int error);

// Whether `name` matches a Windows wildcard mask ("*", "*.*", "a?c*"),
// without regard to case.
bool MatchesMask(const std::string& name, const std::string& mask);

}  // namespace kvx
