#pragma once
#include "platform/named_objects.h"

namespace kvx {

// Named mutexes and file mappings of the Windows object manager
// (CreateMutexW, OpenMutexW, CreateFileMappingW, OpenFileMappingW).
// Default-constructible.
//
// A mutex handle that owns its mutex when it is destroyed releases it
// first, so that closing the handle gives the mutex up as the interface
// promises (Windows alone would keep it owned by the thread). A holder
// that ends without releasing it leaves it abandoned, and the next wait
// owns it.
class Win32NamedObjects : public NamedObjects {
 public:
  std::unique_ptr<NamedMutex> CreateMutex(const std::string& name, bool* already_existed) override;
  std::unique_ptr<NamedMutex> OpenMutex(const std::string& name) override;
  std::unique_ptr<NamedMapping> CreateFileMapping(const std::string& name, size_t size,
                                                  bool* already_existed) override;
  std::unique_ptr<NamedMapping> OpenFileMapping(const std::string& name) override;
};

}  // namespace kvx
