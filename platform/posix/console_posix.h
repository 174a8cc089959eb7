#pragma once
#include "platform/console.h"

namespace kvx {

// Standard output; text is written as UTF-8 whatever the locale.
class PosixConsole : public Console {
 public:
  void Write(std::string_view text) override;
};

}  // namespace kvx
