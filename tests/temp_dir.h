#pragma once
// A folder of its own for one test, removed with everything in it at the
// end of the test.
#include <string>

namespace kvx::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // `name` inside the folder, joined with the platform's own separator.
  std::string operator/(const std::string& name) const { return path_ + kSeparator + name; }
  static const char kSeparator;

 private:
  std::string path_;
};

// Writes `bytes` to `path` (UTF-8), replacing it; false when it cannot.
bool WriteFile(const std::string& path, const std::string& bytes);
// The whole file at `path` (UTF-8), or empty when it cannot be read.
std::string ReadFile(const std::string& path);
// mkdir -p.
void MakeDirs(const std::string& path);
// rm -rf.
void RemoveTree(const std::string& path);

}  // namespace kvx::testing
