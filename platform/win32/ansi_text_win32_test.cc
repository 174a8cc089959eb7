#include "platform/win32/ansi_text_win32.h"

#include <gtest/gtest.h>

#include "platform/win32/windows_api.h"

namespace kvx {
namespace {

class ThreadLocale {
 public:
  explicit ThreadLocale(LCID lcid) : old_(GetThreadLocale()) { SetThreadLocale(lcid); }
  ~ThreadLocale() { SetThreadLocale(old_); }

 private:
  LCID old_;
};

// The history line is converted to the ANSI code page of the thread's
// locale, whichever it is at the time of the call.
TEST(Win32AnsiText, ConvertsToTheThreadsAnsiCodePage) {
  Win32AnsiText ansi;
  {
    ThreadLocale german(MAKELCID(1031, SORT_DEFAULT));
    EXPECT_EQ(ThreadAnsiCodePage(), 1252u);
    EXPECT_FALSE(ansi.IsUtf8());
    EXPECT_EQ(ansi.FromUtf8("J\xC3\xB6rg \xE2\x82\xAC, a.xml"), "J\xF6rg \x80, a.xml");
    // A character the code page lacks becomes its default character.
    EXPECT_EQ(ansi.FromUtf8("\xE4\xB8\xAD.xml"), "?.xml");
  }
  {
    ThreadLocale japanese(MAKELCID(1041, SORT_DEFAULT));
    EXPECT_EQ(ThreadAnsiCodePage(), 932u);
    EXPECT_EQ(ansi.FromUtf8("\xE6\x97\xA5\xE6\x9C\xAC"), "\x93\xFA\x96\x7B");
  }
  {
    ThreadLocale russian(MAKELCID(1049, SORT_DEFAULT));
    EXPECT_EQ(ansi.FromUtf8("\xD0\x96"), "\xC6");  // cp1251
  }
  EXPECT_EQ(ansi.FromUtf8(""), "");
}

}  // namespace
}  // namespace kvx
