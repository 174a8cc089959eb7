#pragma once
#include "platform/process.h"

namespace kvx {

// The POSIX process. The version query answers as the NT platform of
// version 10.0, the Windows whose behaviour the POSIX layer follows.
class PosixProcess : public Process {
 public:
  std::string ModuleFileName() override;
  bool QueryVersion(bool extended, OsVersion& out) override;
  bool IsWow64() override { return false; }  // a native process
  void ComInitialize() override {}
  void ComUninitialize() override {}
};

// The Windows form of `native_path` when it fits the 260-character
// module-name buffer (259 characters and the terminator), else empty.
std::string ModuleNameFromNative(const std::string& native_path);

}  // namespace kvx
