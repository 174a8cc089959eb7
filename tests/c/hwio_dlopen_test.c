/* Loads the hardware access library as another program would (dlopen and
 * dlsym by name, C linkage, one-byte booleans) and drives every exported
 * function against an emulated machine of its own.
 * Usage: hwio_dlopen_test <libkvxhwio.so> <kvxemu> */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/c/hwio_functions.h"

/* POSIX allows a data pointer from dlsym to become a function pointer. */
static KvxHwioAddress lookup(void* lib, const char* name) {
  void* p = dlsym(lib, name);
  KvxHwioAddress address;
  memcpy(&address, &p, sizeof address);
  return address;
}

static int run(const char* kvxemu, const char* args) {
  char command[4096];
  snprintf(command, sizeof command, "'%s' %s >/dev/null", kvxemu, args);
  return system(command);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s <libkvxhwio.so> <kvxemu>\n", argv[0]);
    return 2;
  }
  char machine[] = "/tmp/kvxhwio-c-XXXXXX";
  if (!mkdtemp(machine)) return 2;
  setenv("KVXPREFIX", machine, 1);
  if (run(argv[2], "up --power off") != 0) {
    fprintf(stderr, "kvxemu did not come up\n");
    return 2;
  }

  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 2;
  }
  KvxHwio f;
  if (kvx_hwio_bind(&f, lookup, lib) != 0) return 1;
  /* The library's own code stays inside it: a program binds the interface
   * and nothing else. */
  CHECK(dlsym(lib, "_ZN3kvx5WinIo15InitializeWinIoEv") == NULL);
  CHECK(dlsym(lib, "_ZN3kvx14CreatePlatformEv") == NULL);

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

  /* DOS device names: the drive appears in the machine's drive map. */
  char link[512];
  struct stat st;
  snprintf(link, sizeof link, "%s/dosdevices/q:", machine);
  CHECK(f.create_dos("\\Device\\Nothing", "Q") == 1);
  CHECK(lstat(link, &st) == 0);
  CHECK(f.delete_dos("Q") == 1);
  CHECK(lstat(link, &st) != 0);
  CHECK(f.delete_dos("~") == 1); /* no such name: still true */
  CHECK(f.create_dos("\\Device\\X", "ABCDEFGH") == 0); /* does not fit */

  f.shutdown();
  CHECK(f.get_port(0x80, &v, 1) == 0);
  CHECK(f.delete_dos("~") == 1); /* closed: still true */

  /* The driver's service: removed, then installed and started again by
   * the next InitializeWinIo. */
  CHECK(f.remove_driver() == 1);
  CHECK(f.init() == 1);
  f.shutdown();
  CHECK(f.install("C:\\drivers\\kvxio.sys", 1) == 1);

  dlclose(lib);
  run(argv[2], "down");
  rmdir(machine);
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  else printf("all exported functions answered as expected\n");
  return failures ? 1 : 0;
}
