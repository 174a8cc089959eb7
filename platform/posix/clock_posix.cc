#include "platform/posix/clock_posix.h"

namespace kvx {

bool PosixClock::LocalNow(std::tm& out) {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return false;
  return localtime_r(&now, &out) != nullptr;
}

}  // namespace kvx
