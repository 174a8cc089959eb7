#pragma once
#include <string>

#include "platform/debug_output.h"
#include "platform/file_system.h"

namespace kvx {

// Files and folders through the W functions of the Windows API and the
// run-time's wide stream functions. Default-constructible.
//
// What the system refuses is refused here too: a read-only file cannot be
// opened for writing, deleted or replaced; a name held by a folder cannot
// be opened as a file. Enumeration gives the entries in the order the
// volume keeps them ("." and ".." first below a folder).
class Win32FileSystem : public FileSystem {
 public:
  // `debug`, when given, hears of what is passed over: names enumeration
  // leaves out, files that are no disk files.
  explicit Win32FileSystem(DebugOutput* debug = nullptr) : debug_(debug) {}
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
  DebugOutput* debug_;
};

// Whether a file (not a folder) is at `path` with the read-only attribute.
bool IsReadOnlyFile(const std::wstring& path);

}  // namespace kvx
