#include "hwio/pe_exports.h"

#include <cstring>

namespace kvx {

namespace {

bool Read32(const uint8_t* base, size_t size, size_t offset, uint32_t& out) {
  if (offset > size || size - offset < 4) return false;
  std::memcpy(&out, base + offset, 4);
  return true;
}

}  // namespace

const uint8_t* FindKernel32Ordinal(const uint8_t* base, size_t size, uint16_t ordinal) {
  if (base == nullptr || size < 64 || base[0] != 'M' || base[1] != 'Z') return nullptr;
  uint32_t header = 0, exports = 0, count = 0, functions = 0, entry = 0;
  if (!Read32(base, size, 60, header) || header > size || size - header < 2 ||
      base[header] != 'P' || base[header + 1] != 'E')
    return nullptr;
  if (!Read32(base, size, size_t{header} + 120, exports) || exports == 0) return nullptr;
  if (!Read32(base, size, size_t{exports} + 20, count) ||
      !Read32(base, size, size_t{exports} + 28, functions))
    return nullptr;
  const uint32_t index = static_cast<uint32_t>(ordinal) - 1;  // ordinal 0 wraps out of range
  if (ordinal == 0 || index >= count) return nullptr;
  if (!Read32(base, size, size_t{functions} + 4 * size_t{index}, entry) || entry >= size) return nullptr;
  return base + entry;
}

}  // namespace kvx
