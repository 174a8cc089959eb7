/* Loads the hardware access library as another Windows program would
 * (LoadLibrary and GetProcAddress by plain name) and drives every exported
 * function against the emulated machine under Wine, whose driver answers
 * in Wine's driver host: ports, physical memory, SMBIOS tokens, the calling
 * interface and a DOS device name defined and removed (the caller reads
 * the machine's log for the two).
 * Usage: hwio_machine_test <kvxhwio.dll> */
#include <windows.h>

#include "tests/c/hwio_functions.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <kvxhwio.dll>\n", argv[0]);
    return 2;
  }
  KvxHwio f;
  HMODULE lib = kvx_hwio_load_windows(argv[1], &f);
  if (!lib) return 2;
  kvx_hwio_machine_checks(&f);
  CHECK(f.create_dos("\\Device\\Nothing", "Q") == 1);
  CHECK(f.delete_dos("Q") == 1);
  kvx_hwio_dos_name_checks(&f);
  f.shutdown();
  FreeLibrary(lib);
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  else printf("all exported functions answered as expected\n");
  return failures ? 1 : 0;
}
