#include "platform/win32/arguments_win32.h"

#include <cwchar>

#include "core/utf.h"

namespace kvx {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

std::vector<std::string> Utf8Arguments(int argc, const wchar_t* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
    const wchar_t* arg = argv[i];
    const std::u16string units(arg, arg + std::wcslen(arg));
    args.push_back(Utf16ToUtf8(units));
  }
  return args;
}

}  // namespace kvx
