#pragma once
#include "platform/sleeper.h"
#include "platform/win32/windows_api.h"

namespace kvx {

// Sleep of the calling thread. Default-constructible.
class Win32Sleeper : public Sleeper {
 public:
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
};

}  // namespace kvx
