// The file helpers of tests/temp_dir.h that are the same on every platform.
// Paths are UTF-8: a std::filesystem::path made from UTF-8 text opens the
// same file on every system, where a narrow string would be read in the
// ANSI code page on Windows.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/temp_dir.h"

namespace kvx::testing {

namespace {

std::filesystem::path Utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return !out.fail();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace kvx::testing
