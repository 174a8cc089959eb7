#include <sys/mman.h>

#include "tests/low_memory.h"

namespace kvx::testing {

uint8_t* AllocateLowMemory(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

void FreeLowMemory(uint8_t* memory, size_t size) {
  if (memory) munmap(memory, size);
}

}  // namespace kvx::testing
