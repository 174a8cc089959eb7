#pragma once
#include "platform/clock.h"

namespace kvx {

// The local date and time of the system (GetLocalTime). Default-constructible.
class Win32Clock : public Clock {
 public:
  bool LocalNow(std::tm& out) override;
};

}  // namespace kvx
