#include "platform/win32/string_resources_win32.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

std::string Win32StringResources::Load(int id) {
  // With a buffer size of 0 the system hands back a pointer into the
  // resource itself, so no text is cut to a buffer.
  const wchar_t* text = nullptr;
  const int n = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                            reinterpret_cast<LPWSTR>(&text), 0);
  if (n <= 0 || text == nullptr) return std::string();
  return Narrow(std::wstring_view(text, static_cast<size_t>(n)));
}

}  // namespace kvx
