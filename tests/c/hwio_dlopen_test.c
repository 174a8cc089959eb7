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

  kvx_hwio_machine_checks(&f);

  /* DOS device names: the drive appears in the machine's drive map. */
  char link[512];
  struct stat st;
  snprintf(link, sizeof link, "%s/dosdevices/q:", machine);
  CHECK(f.create_dos("\\Device\\Nothing", "Q") == 1);
  CHECK(lstat(link, &st) == 0);
  CHECK(f.delete_dos("Q") == 1);
  CHECK(lstat(link, &st) != 0);
  kvx_hwio_dos_name_checks(&f);

  f.shutdown();
  uint32_t v = 0;
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
