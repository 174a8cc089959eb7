#pragma once
#include <string>

#include "platform/named_objects.h"

namespace kvx {

// Named objects as files of the folder "objects" of the machine folder.
// An object exists while any process holds a shared lock on its file;
// locks die with their process, so a crashed holder gives the name up. A
// file mapping is a file of its size, mapped shared by every view.
class PosixNamedObjects : public NamedObjects {
 public:
  explicit PosixNamedObjects(std::string objects_folder);
  std::unique_ptr<NamedMutex> CreateMutex(const std::string& name,
                                          bool* already_existed) override;
  std::unique_ptr<NamedMutex> OpenMutex(const std::string& name) override;
  std::unique_ptr<NamedMapping> CreateFileMapping(const std::string& name, size_t size,
                                                  bool* already_existed) override;
  std::unique_ptr<NamedMapping> OpenFileMapping(const std::string& name) override;
  // Whether any process holds the mutex `name` (without taking a handle).
  bool MutexHeld(const std::string& name);

 private:
  std::string folder_;
};

// The file name that stands for the object `name`: the "Global\" or
// "Local\" prefix dropped, every byte outside [A-Za-z0-9._-] as %XX.
std::string ObjectFileName(const std::string& name);

}  // namespace kvx
