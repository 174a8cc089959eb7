#pragma once
#include <string>

namespace kvx {

struct OsVersion {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned build = 0;
  unsigned platform_id = 0;  // 2: the NT platform
};

// Facts about the running process and its system.
class Process {
 public:
  virtual ~Process() = default;
  // The full path of the running executable in Windows form
  // ("Z:\work\build\bin\QZRRemote"), or empty when it cannot be had or does
  // not fit the 260-character module-name buffer.
  virtual std::string ModuleFileName() = 0;
  // The extended version record (`extended`) or the plain one; false when
  // the system refuses the query.
  virtual bool QueryVersion(bool extended, OsVersion& out) = 0;
  // Whether this 32-bit process runs on 64-bit Windows; false when the
  // system cannot say (a system without the query is not 64-bit).
  virtual bool IsWow64() = 0;
  // COM initialisation of the calling thread (apartment model) and its
  // undoing. No-ops where the platform has no COM.
  virtual void ComInitialize() = 0;
  virtual void ComUninitialize() = 0;
};

}  // namespace kvx
