#pragma once
// The program's UTF-8 text as the wide text of the W functions and back.
// On Windows wchar_t is one UTF-16 code unit, so both directions are the
// program's own UTF-8/UTF-16 conversion.
#include <string>
#include <string_view>

#include "core/utf.h"

namespace kvx {

inline std::wstring Wide(std::string_view utf8) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text is UTF-16 on Windows");
  const std::u16string u = Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

inline std::string Narrow(std::wstring_view wide) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

}  // namespace kvx
