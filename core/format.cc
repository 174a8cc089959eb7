#include "core/format.h"

#include <cstdio>
#include <vector>

namespace kvx {

std::string VFormat(const char* layout, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, layout, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), layout, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Format(const char* layout, ...) {
  va_list args;
  va_start(args, layout);
  std::string out = VFormat(layout, args);
  va_end(args);
  return out;
}

}  // namespace kvx
