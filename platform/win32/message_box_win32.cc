#include "platform/win32/message_box_win32.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

void Win32MessageBox::Show(const std::string& text, const std::string& caption) {
  MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), MB_OK);
}

}  // namespace kvx
