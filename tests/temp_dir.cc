#include "tests/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace kvx::testing {

const char TempDir::kSeparator = '/';

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/kvxtest.XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) std::abort();
  chmod(templ.c_str(), 0777);  // tests also run programs as other users
  path_ = templ;
}

TempDir::~TempDir() { RemoveTree(path_); }

void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

void RemoveTree(const std::string& path) {
  std::error_code ec;
  // Folders a test made read-only are opened up again first.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0777);
  chmod(path.c_str(), 0777);
  std::filesystem::remove_all(path, ec);
}

}  // namespace kvx::testing
