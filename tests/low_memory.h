#pragma once
// Memory whose address fits in 32 bits, as the driver's physical-mapping
// record carries a 32-bit linear address: a fake driver hands out views of it.
#include <cstddef>
#include <cstdint>

namespace kvx::testing {

// `size` bytes of zeroed read-write memory below 4 GiB, or null.
uint8_t* AllocateLowMemory(size_t size);
// Releases what AllocateLowMemory returned (null is ignored).
void FreeLowMemory(uint8_t* memory, size_t size);

}  // namespace kvx::testing
