// The test folders on Windows: below the user's temp folder, removed with
// everything in them; a link inside is removed, never followed.
#include <windows.h>

#include <cstdlib>
#include <filesystem>

#include "tests/temp_dir.h"

namespace kvx::testing {

TempDir::TempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (unsigned attempt = 0;; ++attempt) {
    const std::filesystem::path p =
        base / ("kvxtest." + std::to_string(GetCurrentProcessId()) + "." +
                std::to_string(GetTickCount()) + "." + std::to_string(attempt));
    if (CreateDirectoryW(p.wstring().c_str(), nullptr)) {
      path_ = p.string();
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 1000) std::abort();
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

void MakeDirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace kvx::testing
