#include <windows.h>

#include "tests/low_memory.h"

namespace kvx::testing {

uint8_t* AllocateLowMemory(size_t size) {
  // A 32-bit process has nothing else; a 64-bit one asks for addresses in
  // the low 2 GiB, one allocation granule after another, until one is free.
  for (uintptr_t at = 0x10000000; at + size <= 0x80000000u; at += 0x100000) {
    void* p = VirtualAlloc(reinterpret_cast<void*>(at), size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p) return static_cast<uint8_t*>(p);
  }
  return nullptr;
}

void FreeLowMemory(uint8_t* memory, size_t) {
  if (memory) VirtualFree(memory, 0, MEM_RELEASE);
}

}  // namespace kvx::testing
