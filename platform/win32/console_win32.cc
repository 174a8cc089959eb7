#include "platform/win32/console_win32.h"

#include <cstdio>
#include <string>

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

void Win32Console::Write(std::string_view text) {
  std::fflush(stdout);  // keeps the order with the run-time's own stream
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD mode, done;
  if (GetConsoleMode(out, &mode)) {
    const std::wstring wide = Wide(text);
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &done, nullptr);
    return;
  }
  // Redirected, the text reads as a Windows program's text-mode output
  // does: each line ends in CR LF.
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += '\r';
    lines += text[i];
  }
  for (size_t pos = 0; pos < lines.size(); pos += done) {
    if (!WriteFile(out, lines.data() + pos, static_cast<DWORD>(lines.size() - pos), &done,
                   nullptr) ||
        done == 0)
      return;
  }
}

}  // namespace kvx
