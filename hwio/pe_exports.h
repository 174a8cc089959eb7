#pragma once
// The export by ordinal of a loaded PE module, as the legacy platform's
// entry lookup reads kernel32's: "MZ" at the base, the "PE" header at the
// offset found at byte 60, its export directory at offset 120 of that
// header, and the function address table indexed by ordinal - 1, without
// regard to the directory's ordinal base.
#include <cstddef>
#include <cstdint>

namespace kvx {

// The address of export `ordinal` of the module image of `size` bytes at
// `base`, or null when the image is no PE module or the ordinal is beyond
// its function count. Nothing outside the image is read.
const uint8_t* FindKernel32Ordinal(const uint8_t* base, size_t size, uint16_t ordinal);

}  // namespace kvx
