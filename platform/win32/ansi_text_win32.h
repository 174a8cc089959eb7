#pragma once
#include "platform/ansi_text.h"

namespace kvx {

// The ANSI code page of the running thread's locale, looked up at each
// call so that a change of the thread's locale takes effect. On the NT
// platform from version 5 on, that is CP_THREAD_ACP; before, the default
// ANSI code page of the thread's locale, or the system's when the locale
// names none. Default-constructible.
class Win32AnsiText : public AnsiText {
 public:
  std::string FromUtf8(std::string_view utf8) override;
  bool IsUtf8() override;
};

// The code page number that the thread's ANSI conversions use.
unsigned ThreadAnsiCodePage();

}  // namespace kvx
