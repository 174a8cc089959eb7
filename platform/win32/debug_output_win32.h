#pragma once
#include "platform/debug_output.h"

namespace kvx {

// The system's debugger output stream (OutputDebugStringW), which a
// debugger or a viewer of the DBWIN_BUFFER protocol receives. The
// program's messages are UTF-8 and go out as wide text; the few narrow
// messages (the history line in the thread's ANSI code page) are not UTF-8
// when they hold other than ASCII characters, and go out as they are
// through OutputDebugStringA, which reads them in that code page.
// Default-constructible.
class Win32DebugOutput : public DebugOutput {
 public:
  void Write(std::string_view text) override;
};

}  // namespace kvx
