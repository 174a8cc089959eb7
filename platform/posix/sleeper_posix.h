#pragma once
#include <time.h>

#include <cerrno>

#include "platform/sleeper.h"

namespace kvx {

class PosixSleeper : public Sleeper {
 public:
  void Sleep(uint32_t ms) override {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace kvx
