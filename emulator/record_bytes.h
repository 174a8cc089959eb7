#pragma once
// Little-endian fields of the records the machine receives, read and
// written by byte offset, as a driver sees a caller's buffer.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kvx::emu {

inline uint32_t GetField(const std::string& b, size_t at, int width) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(b[at + i])) << (8 * i);
  return v;
}

inline void PutField(std::string& b, size_t at, uint32_t v, int width = 4) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace kvx::emu
