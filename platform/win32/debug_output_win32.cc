#include "platform/win32/debug_output_win32.h"

#include <string>

#include "core/utf.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

namespace {

bool IsWellFormedUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    // U+FFFD that was written as such is three bytes; a bad part is less.
    if (DecodeUtf8(text, pos) == 0xFFFD && pos - start != 3) return false;
  }
  return true;
}

}  // namespace

void Win32DebugOutput::Write(std::string_view text) {
  if (IsWellFormedUtf8(text)) {
    OutputDebugStringW(Wide(text).c_str());
  } else {
    OutputDebugStringA(std::string(text).c_str());
  }
}

}  // namespace kvx
