#pragma once
#include <ctime>

namespace kvx {

// Wall-clock time.
class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time; false when it cannot be converted.
  virtual bool LocalNow(std::tm& out) = 0;
};

}  // namespace kvx
