// placeholder until the administrative steps land
#include "emulator/wine/kvxwine.h"
int kvx::wine::RunAdmin(int, wchar_t**) { return 1; }
