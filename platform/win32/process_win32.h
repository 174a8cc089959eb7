#pragma once
#include "platform/process.h"

namespace kvx {

// The running process through the Windows API: the executable's module
// name, GetVersionExW, IsWow64Process (looked up in kernel32, which lacks
// it before Windows XP SP2) and COM. Default-constructible.
class Win32Process : public Process {
 public:
  std::string ModuleFileName() override;
  bool QueryVersion(bool extended, OsVersion& out) override;
  bool IsWow64() override;
  void ComInitialize() override;
  void ComUninitialize() override;

 private:
  // How many initialisations succeeded and are still to be undone: an
  // uninitialisation without one would undo another component's.
  unsigned com_initialized_ = 0;
};

}  // namespace kvx
