#include "platform/posix/console_posix.h"

#include <cstdio>

namespace kvx {

void PosixConsole::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace kvx
