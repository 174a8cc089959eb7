#pragma once
#include <string_view>

namespace kvx {

// The process's standard output. Text is written as it stands, in the
// console encoding of the platform (UTF-8 on POSIX), and flushed at once so
// that it keeps its order with other writers of the same stream.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Write(std::string_view text) = 0;
};

}  // namespace kvx
