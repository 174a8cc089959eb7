// placeholder until the relay lands
#include "emulator/wine/kvxwine.h"
int kvx::wine::RunRelay(int) { return 1; }
int wmain(int argc, wchar_t** argv) { return argc > 1 ? kvx::wine::RunAdmin(argc - 1, argv + 1) : 2; }
