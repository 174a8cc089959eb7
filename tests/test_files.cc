// The file helpers of tests/temp_dir.h that are the same on every platform.
#include <fstream>
#include <sstream>

#include "tests/temp_dir.h"

namespace kvx::testing {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace kvx::testing
