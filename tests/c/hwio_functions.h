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

/* The checks of every function against an emulated machine whose module is
 * off, the library not yet initialised: ports, physical memory, SMBIOS
 * tokens and the calling interface. Leaves the library initialised and the
 * module on. */
static inline void kvx_hwio_machine_checks(const KvxHwio* pf) {
  KvxHwio f = *pf;
  uint32_t v = 0;
  CHECK(f.get_port(0x80, &v, 1) == 0); /* closed */
  CHECK(f.init() == 1);

  /* Ports: latches read back at each width; width 3 sends nothing. */
  CHECK(f.set_port(0x80, 0xA5, 1) == 1);
  CHECK(f.get_port(0x80, &v, 1) == 1 && v == 0xA5);
  CHECK(f.set_port(0x300, 0x12345678, 4) == 1);
  CHECK(f.get_port(0x300, &v, 2) == 1 && v == 0x5678);
  CHECK(f.get_port(0x300, &v, 4) == 1 && v == 0x12345678);
  CHECK(f.get_port(0x300, &v, 3) == 1);
  sCPU_REGS regs;
  memset(&regs, 0, sizeof regs);
  CHECK(f.set_port_ex(0x70, 0x1234, &regs) == 1 && regs.regs[0] == 0x1234);

  /* Physical memory: the firmware's entry point, a real shared view below
   * 4 GiB; a range beyond the memory is refused. */
  uint32_t section = 0;
  uint8_t* p = f.map(0xF0000, 24, &section);
  CHECK(p != NULL && (uintptr_t)p < 0x100000000ull);
  if (p) CHECK(memcmp(p, "_SM3_", 5) == 0);
  CHECK(p && f.unmap(section, p) == 1);
  CHECK(f.unmap(section, p) == 0); /* the section is gone */
  CHECK(f.map(0xFFFFF000u, 0x2000, &section) == NULL);
  /* A view outlives a second InitializeWinIo and a ShutdownWinIo, until its
   * unmap names its section and an address inside it. */
  p = f.map(0x2000, 16, &section);
  CHECK(p != NULL);
  if (p) {
    p[0] = 0x42;
    CHECK(f.init() == 1);
    CHECK(p[0] == 0x42);
    f.shutdown();
    CHECK(f.unmap(section, p) == 0); /* closed */
    CHECK(f.init() == 1);
    CHECK(f.unmap(section, p + 0x10000) == 0);
    CHECK(p[0] == 0x42);
    CHECK(f.unmap(section, p) == 1);
  }
  CHECK(f.set_phys(0x2010, 0xDEADBEEF) == 1);
  CHECK(f.get_phys(0x2010, &v) == 1 && v == 0xDEADBEEF);

  /* SMBIOS tokens and the calling interface. */
  uint16_t location = 0, value = 7;
  CHECK(f.token(0x0351, &location, &value) == 0); /* before InitSMBIOS */
  CHECK(f.set_default(0xB2, 0x0D) == 1);
  CHECK(f.init_smbios() == 1);
  CHECK(f.token(0x0351, &location, &value) == 1 && location == 0x0102 && value == 1);
  CHECK(f.token(0x9999, &location, &value) == 0);
  KVX_CALLING_INTERFACE_REQUEST request;
  memset(&request, 0, sizeof request);
  request.stCmdBuf.cbClass = 17;
  request.stCmdBuf.cbSelect = 13;
  CHECK(f.call(&request, 0) == 1);
  CHECK(request.port == 0xB2 && request.code == 0x0D);
  CHECK(request.stCmdBuf.u32Res[0] == 0 && request.stCmdBuf.u32Res[1] == 0x18); /* off */
  memset(&request, 0, sizeof request);
  request.stCmdBuf.cbClass = 17;
  request.stCmdBuf.cbSelect = 13;
  request.stCmdBuf.cbArg[0] = 1;
  request.stCmdBuf.cbArg[1] = 3;
  CHECK(f.call(&request, 0) == 1); /* power on */
  memset(&request, 0, sizeof request);
  request.stCmdBuf.cbClass = 17;
  request.stCmdBuf.cbSelect = 13;
  CHECK(f.call(&request, 0) == 1 && request.stCmdBuf.u32Res[1] == 0x38); /* on */

}

/* The checks of DOS device names that hold on every machine: a name that
 * is not defined goes quietly, a name longer than a drive's does not fit. */
static inline void kvx_hwio_dos_name_checks(const KvxHwio* f) {
  CHECK(f->delete_dos("~") == 1); /* no such name: still true */
  CHECK(f->create_dos("\\Device\\X", "ABCDEFGH") == 0); /* does not fit */
}

#ifdef _WIN32
/* GetProcAddress as kvx_hwio_bind's lookup. */
static inline KvxHwioAddress kvx_hwio_windows_lookup(void* lib, const char* name) {
  FARPROC p = GetProcAddress((HMODULE)lib, name);
  KvxHwioAddress address;
  memcpy(&address, &p, sizeof address);
  return address;
}

/* Loads the library at `path` as other Windows programs do and binds every
 * function; NULL (with the reason on standard error) when it cannot. */
static inline HMODULE kvx_hwio_load_windows(const char* path, KvxHwio* f) {
  HMODULE lib = LoadLibraryA(path);
  if (!lib) {
    fprintf(stderr, "LoadLibrary failed: %lu\n", (unsigned long)GetLastError());
    return NULL;
  }
  if (kvx_hwio_bind(f, kvx_hwio_windows_lookup, lib) != 0) {
    FreeLibrary(lib);
    return NULL;
  }
  return lib;
}
#endif

#endif
