#pragma once
#include <string_view>

namespace kvx {

// The operating system's debugger output stream. One call is one message;
// the text is sent as it stands (no prefix, level, time or line end). With
// nobody listening the message goes nowhere; sending never fails the caller.
class DebugOutput {
 public:
  virtual ~DebugOutput() = default;
  virtual void Write(std::string_view text) = 0;
};

}  // namespace kvx
