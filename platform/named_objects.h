#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kvx {

// A handle on a named mutex. The object exists while any handle on it is
// open in any process; closing the handle (destroying this object, or the
// end of the process, a crash included) gives it up.
class NamedMutex {
 public:
  enum class WaitResult { kOwned, kTimedOut, kFailed };
  virtual ~NamedMutex() = default;
  // Waits at most `timeout_ms` for this handle to own the mutex. A holder
  // that ended without releasing it (a crash) gives it up.
  virtual WaitResult Wait(uint32_t timeout_ms) = 0;
  // Gives up ownership; false when this handle does not own it.
  virtual bool Release() = 0;
};

// A view of a named file mapping: `size` bytes shared with every other
// view of the same mapping, in this process and others. Unmapped when the
// object ends.
class MappingView {
 public:
  virtual ~MappingView() = default;
  virtual unsigned char* data() = 0;
  virtual size_t size() const = 0;
};

// A handle on a named file mapping. The mapping exists while any handle
// on it is open in any process.
class NamedMapping {
 public:
  virtual ~NamedMapping() = default;
  // A view of the first `size` bytes; null when the mapping is smaller.
  virtual std::unique_ptr<MappingView> MapView(size_t size) = 0;
};

// Named kernel objects shared by every process of the machine. A name with
// the "Global\" prefix is machine-wide; the POSIX machine has one session,
// so names without the prefix are machine-wide there too. Mutexes and
// mappings share one namespace: while an object of one kind holds a name,
// an object of the other kind of that name can be neither created nor
// opened (the system refuses it as an invalid handle, error 6).
class NamedObjects {
 public:
  virtual ~NamedObjects() = default;
  // Creates the mutex `name` unowned, or opens it when it exists already.
  // Sets `already_existed` when another handle held it before this call.
  // Null when the object can be neither created nor opened.
  virtual std::unique_ptr<NamedMutex> CreateMutex(const std::string& name,
                                                  bool* already_existed) = 0;
  // Opens an existing mutex; null when no process holds one of that name.
  virtual std::unique_ptr<NamedMutex> OpenMutex(const std::string& name) = 0;
  // Creates the mapping `name` of `size` bytes, zero-filled, or opens it
  // when it exists already. Null when it can be neither created nor opened.
  virtual std::unique_ptr<NamedMapping> CreateFileMapping(const std::string& name, size_t size,
                                                          bool* already_existed) = 0;
  // Opens an existing mapping; null when no process holds one of that name.
  virtual std::unique_ptr<NamedMapping> OpenFileMapping(const std::string& name) = 0;
};

}  // namespace kvx
