#include <cstring>
#include <string>

#include "core/text.h"
#include "platform/file_system.h"

namespace kvx {

namespace {

// Whether the name's part before its first "." (trailing blanks dropped,
// as Windows drops them) is one of the names Windows keeps for devices.
bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  const std::string upper = ToUpperAscii(base);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

bool IsWindowsFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  return !IsDeviceName(name);
}

}  // namespace kvx
