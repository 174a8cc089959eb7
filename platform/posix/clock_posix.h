#pragma once
#include "platform/clock.h"

namespace kvx {

class PosixClock : public Clock {
 public:
  bool LocalNow(std::tm& out) override;
};

}  // namespace kvx
