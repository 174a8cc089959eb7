#include "platform/win32/ansi_text_win32.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

namespace {

// The thread locale's own default ANSI code page; 0 when it names none.
unsigned LocaleAnsiCodePage() {
  DWORD cp = 0;
  if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&cp), sizeof cp / sizeof(wchar_t)) == 0)
    return 0;
  return cp;
}

bool IsNt5OrLater() {
  const DWORD v = GetVersion();
  return !(v & 0x80000000u) && LOBYTE(LOWORD(v)) >= 5;
}

}  // namespace

unsigned ThreadAnsiCodePage() {
  const unsigned cp = LocaleAnsiCodePage();
  return cp != 0 ? cp : GetACP();
}

std::string Win32AnsiText::FromUtf8(std::string_view utf8) {
  const std::wstring wide = Wide(utf8);
  if (wide.empty()) return std::string();
  const UINT cp = IsNt5OrLater() ? CP_THREAD_ACP : ThreadAnsiCodePage();
  const int n = WideCharToMultiByte(cp, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

bool Win32AnsiText::IsUtf8() { return ThreadAnsiCodePage() == CP_UTF8; }

}  // namespace kvx
