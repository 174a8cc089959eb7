/* For the C programs that load the hardware access library as other
 * programs do: the seventeen functions of hwio/kvxhwio.h as a table of
 * pointers, bound by name through the loader's own lookup, and the checks'
 * counter. One translation unit per program includes it. */
#ifndef KVX_TESTS_C_HWIO_FUNCTIONS_H
#define KVX_TESTS_C_HWIO_FUNCTIONS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "hwio/kvxhwio.h"

static int failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

typedef struct KvxHwio {
  KVXBOOL (*init)(void);
  void (*shutdown)(void);
  KVXBOOL (*install)(const char*, KVXBOOL);
  KVXBOOL (*remove_driver)(void);
  KVXBOOL (*get_port)(uint16_t, uint32_t*, uint8_t);
  KVXBOOL (*set_port)(uint16_t, uint32_t, uint8_t);
  KVXBOOL (*set_port_ex)(uint16_t, uint16_t, sCPU_REGS*);
  KVXBOOL (*create_dos)(const char*, const char*);
  KVXBOOL (*delete_dos)(const char*);
  uint8_t* (*map)(uint32_t, uint32_t, uint32_t*);
  KVXBOOL (*unmap)(uint32_t, uint8_t*);
  KVXBOOL (*get_phys)(uint32_t, uint32_t*);
  KVXBOOL (*set_phys)(uint32_t, uint32_t);
  KVXBOOL (*init_smbios)(void);
  KVXBOOL (*token)(uint16_t, uint16_t*, uint16_t*);
  KVXBOOL (*call)(void*, uint32_t);
  KVXBOOL (*set_default)(uint16_t, uint16_t);
} KvxHwio;

/* Any function's address, as a loader's lookup returns it. */
typedef void (*KvxHwioAddress)(void);

/* Binds every function of `f` with `lookup` (the loader's lookup by name in
 * `lib`), reporting each name the library does not export. Returns the
 * number of names missing. Every function pointer has the size of
 * KvxHwioAddress; the bytes are copied over. */
static int kvx_hwio_bind(KvxHwio* f, KvxHwioAddress (*lookup)(void* lib, const char* name), void* lib) {
  static const struct {
    const char* name;
    size_t offset;
  } exports[] = {
      {"InitializeWinIo", offsetof(KvxHwio, init)},
      {"ShutdownWinIo", offsetof(KvxHwio, shutdown)},
      {"InstallWinIoDriver", offsetof(KvxHwio, install)},
      {"RemoveWinIoDriver", offsetof(KvxHwio, remove_driver)},
      {"GetPortVal", offsetof(KvxHwio, get_port)},
      {"SetPortVal", offsetof(KvxHwio, set_port)},
      {"SetPortValEx", offsetof(KvxHwio, set_port_ex)},
      {"CreateDosDevice", offsetof(KvxHwio, create_dos)},
      {"DeleteDosDevice", offsetof(KvxHwio, delete_dos)},
      {"MapPhysToLin", offsetof(KvxHwio, map)},
      {"UnmapPhysicalMemory", offsetof(KvxHwio, unmap)},
      {"GetPhysLong", offsetof(KvxHwio, get_phys)},
      {"SetPhysLong", offsetof(KvxHwio, set_phys)},
      {"InitSMBIOS", offsetof(KvxHwio, init_smbios)},
      {"GetTokenFromTokenID", offsetof(KvxHwio, token)},
      {"CallInterface", offsetof(KvxHwio, call)},
      {"SetDefaultPortValue", offsetof(KvxHwio, set_default)},
  };
  int missing = 0;
  memset(f, 0, sizeof *f);
  for (size_t i = 0; i < sizeof exports / sizeof exports[0]; ++i) {
    KvxHwioAddress address = lookup(lib, exports[i].name);
    if (!address) {
      fprintf(stderr, "missing export %s\n", exports[i].name);
      ++missing;
    }
    memcpy((char*)f + exports[i].offset, &address, sizeof address);
  }
  return missing;
}

#endif
