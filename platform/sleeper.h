#pragma once
#include <cstdint>

namespace kvx {

// Plain sleeps of the calling thread.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  // Returns after `ms` milliseconds.
  virtual void Sleep(uint32_t ms) = 0;
};

}  // namespace kvx
