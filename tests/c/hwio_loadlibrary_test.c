/* Loads the hardware access library as another Windows program would
 * (LoadLibrary and GetProcAddress by plain name, C linkage, one-byte
 * booleans), binds all seventeen functions and calls those that need no
 * driver: with no driver present InitializeWinIo fails cleanly and the
 * port and memory calls refuse; InstallWinIoDriver registers the driver's
 * service with the service control manager and RemoveWinIoDriver deletes it.
 * Usage: hwio_loadlibrary_test <kvxhwio.dll> */
#include <windows.h>

#include "tests/c/hwio_functions.h"

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
  KvxHwio f;
  HMODULE lib = kvx_hwio_load_windows(argv[1], &f);
  if (!lib) return 2;
  /* InitSMBIOS is not called: it reads the firmware's table, whose answer
   * depends on the machine. */

  /* Closed: every request is refused and nothing is written back. */
  uint32_t v = 0xDEADBEEF;
  CHECK(f.get_port(0x80, &v, 1) == 0 && v == 0xDEADBEEF);
  CHECK(f.set_port(0x80, 0xA5, 1) == 0);
  sCPU_REGS regs;
  memset(&regs, 0, sizeof regs);
  CHECK(f.set_port_ex(0x70, 0x1234, &regs) == 0);
  uint32_t section = 0;
  CHECK(f.map(0xF0000, 24, &section) == NULL);
  CHECK(f.get_phys(0xF0000, &v) == 0);
  CHECK(f.set_phys(0xF0000, 1) == 0);
  /* The drive-name requests go nowhere on a closed library and still
   * answer true. */
  CHECK(f.create_dos("\\Device\\KvxFlash0", "~:") == 1);
  CHECK(f.delete_dos("~:") == 1);
  CHECK(f.call(NULL, 0) == 0);
  uint16_t location = 0, value = 7;
  CHECK(f.token(0x0351, &location, &value) == 0 && value == 7); /* before InitSMBIOS */
  CHECK(f.set_default(0xB2, 0x0D) == 1);
  f.shutdown(); /* harmless when closed */

  /* No driver file beside the library: opening fails, cleanly and every
   * time, and leaves the library closed. */
  CHECK(f.init() == 0);
  CHECK(f.init() == 0);
  CHECK(f.get_port(0x80, &v, 1) == 0);
  f.shutdown();

  /* The driver's service, registered for demand start and removed again. */
  const char* sys = "C:\\kvx test\\kvxio.sys";
  CHECK(f.install(sys, 1) == 1);
  DWORD start_type = 0;
  char image[1024] = "";
  CHECK(query_driver_service(&start_type, image, sizeof image) == 1);
  CHECK(start_type == SERVICE_DEMAND_START);
  CHECK(strstr(image, "kvxio.sys") != NULL);
  /* Installing again replaces the service, now started with the system. */
  CHECK(f.install(sys, 0) == 1);
  CHECK(query_driver_service(&start_type, image, sizeof image) == 1);
  CHECK(start_type == SERVICE_SYSTEM_START);
  CHECK(f.remove_driver() == 1);
  CHECK(query_driver_service(&start_type, image, sizeof image) == 0);
  CHECK(f.remove_driver() == 0); /* nothing left to remove */

  FreeLibrary(lib);
  if (failures) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("all checks passed\n");
  return 0;
}
