#pragma once
#include <memory>
#include <string>

namespace kvx {

// A handle on a named mutex. The object exists while any handle on it is
// open in any process; closing the handle (destroying this object, or the
// end of the process, a crash included) gives it up.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
};

// Named kernel objects shared by every process of the machine. A name with
// the "Global\" prefix is machine-wide; the POSIX machine has one session,
// so names without the prefix are machine-wide there too.
class NamedObjects {
 public:
  virtual ~NamedObjects() = default;
  // Creates the mutex `name` unowned, or opens it when it exists already.
  // Sets `already_existed` when another handle held it before this call.
  // Null when the object can be neither created nor opened.
  virtual std::unique_ptr<NamedMutex> CreateMutex(const std::string& name,
                                                  bool* already_existed) = 0;
};

}  // namespace kvx
