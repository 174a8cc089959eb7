#pragma once
#include "platform/console.h"

namespace kvx {

// Standard output. On a console the text is written as wide characters
// (WriteConsoleW), so that every language shows whatever the console's
// code page; redirected to a file or a pipe, the UTF-8 bytes are written
// as they stand, as the POSIX build writes them (no CR is added).
// Default-constructible.
class Win32Console : public Console {
 public:
  void Write(std::string_view text) override;
};

}  // namespace kvx
