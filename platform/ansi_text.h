#pragma once
#include <string>
#include <string_view>

namespace kvx {

// The narrow ("ANSI") text of the running thread's locale.
class AnsiText {
 public:
  virtual ~AnsiText() = default;
  // Converts UTF-8 text to the locale's narrow character set; a character
  // without a mapping becomes the set's default character ("?").
  virtual std::string FromUtf8(std::string_view utf8) = 0;
  // Whether the narrow set is UTF-8 (so that text may be cut only between
  // characters).
  virtual bool IsUtf8() = 0;
};

}  // namespace kvx
