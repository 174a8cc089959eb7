#pragma once
// The program's UTF-8 text as the UTF-16 text of the W functions, and back.
// wchar_t is a UTF-16 unit on Windows, so the conversion is core/utf's.
#include <string>
#include <string_view>

#include "core/utf.h"

namespace kvx {

inline std::wstring Wide(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

inline std::string Utf8(std::wstring_view wide) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

}  // namespace kvx
