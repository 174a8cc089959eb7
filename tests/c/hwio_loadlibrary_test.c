/* Loads the hardware access library as another Windows program would
 * (LoadLibrary and GetProcAddress by plain name, C linkage, one-byte
 * booleans), binds all seventeen functions and calls those that need no
 * driver: with no driver present InitializeWinIo fails cleanly and the
 * port and memory calls refuse; InstallWinIoDriver registers the driver's
 * service with the service control manager and RemoveWinIoDriver deletes it.
 * Usage: hwio_loadlibrary_test <kvxhwio.dll> */
#include <windows.h>

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

static FARPROC bind_export(HMODULE lib, const char* name) {
  FARPROC f = GetProcAddress(lib, name);
  if (!f) {
    fprintf(stderr, "missing export %s\n", name);
    ++failures;
  }
  return f;
}

/* Every function pointer has FARPROC's size; the bytes are copied over. */
#define BIND(var, name)                           \
  do {                                            \
    FARPROC bound_ = bind_export(lib, (name));    \
    memcpy(&(var), &bound_, sizeof bound_);       \
  } while (0)

/* The driver's service as the service control manager holds it: 1 with its
 * start type and image path, 0 when there is none, -1 when the manager
 * cannot be asked. */
static int query_driver_service(DWORD* start_type, char* image, size_t image_size) {
  SC_HANDLE scm = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  if (!scm) return -1;
  SC_HANDLE s = OpenServiceA(scm, "KVXIO", SERVICE_QUERY_CONFIG);
  int found = 0;
  if (s) {
    union {
      QUERY_SERVICE_CONFIGA config;
      char bytes[8192];
    } buf;
    DWORD needed = 0;
    if (QueryServiceConfigA(s, &buf.config, sizeof buf, &needed)) {
      found = 1;
      *start_type = buf.config.dwStartType;
      snprintf(image, image_size, "%s", buf.config.lpBinaryPathName ? buf.config.lpBinaryPathName : "");
    } else {
      found = -1;
    }
    CloseServiceHandle(s);
  } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
    found = -1;
  }
  CloseServiceHandle(scm);
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <kvxhwio.dll>\n", argv[0]);
    return 2;
  }
  HMODULE lib = LoadLibraryA(argv[1]);
  if (!lib) {
    fprintf(stderr, "LoadLibrary failed: %lu\n", (unsigned long)GetLastError());
    return 2;
  }
  KVXBOOL (*init)(void);
  BIND(init, "InitializeWinIo");
  void (*shutdown)(void);
  BIND(shutdown, "ShutdownWinIo");
  KVXBOOL (*install)(const char*, KVXBOOL);
  BIND(install, "InstallWinIoDriver");
  KVXBOOL (*remove_driver)(void);
  BIND(remove_driver, "RemoveWinIoDriver");
  KVXBOOL (*get_port)(uint16_t, uint32_t*, uint8_t);
  BIND(get_port, "GetPortVal");
  KVXBOOL (*set_port)(uint16_t, uint32_t, uint8_t);
  BIND(set_port, "SetPortVal");
  KVXBOOL (*set_port_ex)(uint16_t, uint16_t, sCPU_REGS*);
  BIND(set_port_ex, "SetPortValEx");
  KVXBOOL (*create_dos)(const char*, const char*);
  BIND(create_dos, "CreateDosDevice");
  KVXBOOL (*delete_dos)(const char*);
  BIND(delete_dos, "DeleteDosDevice");
  uint8_t* (*map)(uint32_t, uint32_t, uint32_t*);
  BIND(map, "MapPhysToLin");
  KVXBOOL (*unmap)(uint32_t, uint8_t*);
  BIND(unmap, "UnmapPhysicalMemory");
  KVXBOOL (*get_phys)(uint32_t, uint32_t*);
  BIND(get_phys, "GetPhysLong");
  KVXBOOL (*set_phys)(uint32_t, uint32_t);
  BIND(set_phys, "SetPhysLong");
  KVXBOOL (*init_smbios)(void);
  BIND(init_smbios, "InitSMBIOS");
  KVXBOOL (*token)(uint16_t, uint16_t*, uint16_t*);
  BIND(token, "GetTokenFromTokenID");
  KVXBOOL (*call)(void*, uint32_t);
  BIND(call, "CallInterface");
  KVXBOOL (*set_default)(uint16_t, uint16_t);
  BIND(set_default, "SetDefaultPortValue");
  if (failures) return 1;
  (void)init_smbios; /* reads the firmware table: no driver needed, but the
                        answer depends on the machine */
  (void)token;
  (void)set_default;

  /* Closed: every request is refused and nothing is written back. */
  uint32_t v = 0xDEADBEEF;
  CHECK(get_port(0x80, &v, 1) == 0 && v == 0xDEADBEEF);
  CHECK(set_port(0x80, 0xA5, 1) == 0);
  sCPU_REGS regs;
  memset(&regs, 0, sizeof regs);
  CHECK(set_port_ex(0x70, 0x1234, &regs) == 0);
  uint32_t section = 0;
  CHECK(map(0xF0000, 24, &section) == NULL);
  CHECK(get_phys(0xF0000, &v) == 0);
  CHECK(set_phys(0xF0000, 1) == 0);
  /* The drive-name requests go nowhere on a closed library and still
   * answer true. */
  CHECK(create_dos("\\Device\\KvxFlash0", "~:") == 1);
  CHECK(delete_dos("~:") == 1);
  CHECK(call(NULL, 0) == 0);
  shutdown(); /* harmless when closed */

  /* No driver file beside the library: opening fails, cleanly and every
   * time, and leaves the library closed. */
  CHECK(init() == 0);
  CHECK(init() == 0);
  CHECK(get_port(0x80, &v, 1) == 0);
  shutdown();

  /* The driver's service, registered for demand start and removed again. */
  const char* sys = "C:\\kvx test\\kvxio.sys";
  CHECK(install(sys, 1) == 1);
  DWORD start_type = 0;
  char image[1024] = "";
  CHECK(query_driver_service(&start_type, image, sizeof image) == 1);
  CHECK(start_type == SERVICE_DEMAND_START);
  CHECK(strstr(image, "kvxio.sys") != NULL);
  /* Installing again replaces the service, now started with the system. */
  CHECK(install(sys, 0) == 1);
  CHECK(query_driver_service(&start_type, image, sizeof image) == 1);
  CHECK(start_type == SERVICE_SYSTEM_START);
  CHECK(remove_driver() == 1);
  CHECK(query_driver_service(&start_type, image, sizeof image) == 0);
  CHECK(remove_driver() == 0); /* nothing left to remove */

  FreeLibrary(lib);
  if (failures) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("all checks passed\n");
  return 0;
}
