#pragma once
// The POSIX side of the machine under Wine: the Wine that runs the
// machine's own Windows program kvxwine.exe in the machine's prefix, and
// the steps kvxemu takes with it.
#include <string>
#include <vector>

namespace kvx::emu {

struct WineSetup {
  std::string loader;  // the Wine loader, which runs 32-bit and 64-bit programs
  std::string prefix;  // the machine folder, which is the Wine prefix
  std::string tools;   // the folder of kvxwine.exe, kvxio_x64.sys, KvxMDES.exe, kvxwmi.dll
  std::string log;     // where the Windows programs' own output goes
};

// The loader named by KVX_WINE, else Debian's /usr/lib/wine/wine (wine32,
// which hands 64-bit programs on to wine64).
std::string DefaultWineLoader();

// `unix_path` as the Windows path Wine gives it (on the drive Z:).
std::string WindowsPathOf(const std::string& unix_path);

// Runs `loader kvxwine.exe WORDS...` in the prefix and waits for it (at most
// a minute); its standard output in `output`. False with `error` set when it
// could not run, took too long or ended with a code other than 0.
bool RunWineStep(const WineSetup& wine, const std::vector<std::string>& words, std::string& output,
                 std::string& error);

// Starts `loader PROGRAM ARGS...` in the prefix in the background, detached
// from the caller's session; its pid, or -1.
int StartWineProgram(const WineSetup& wine, const std::string& program, const std::vector<std::string>& args);

// Makes the prefix if it is not one yet (wineboot); false with `error`.
bool EnsurePrefix(const WineSetup& wine, std::string& error);

// Stops every process of the prefix (wineserver -k) and waits for them.
void StopPrefix(const WineSetup& wine);

}  // namespace kvx::emu
