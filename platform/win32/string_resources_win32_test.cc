#include "platform/win32/string_resources_win32.h"

#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "platform/win32/windows_api.h"

namespace kvx {
namespace {

// Sets the language the resource lookup picks for this thread, and puts
// the old one back at the end.
class ThreadLanguage {
 public:
  explicit ThreadLanguage(int lang)
      : old_locale_(GetThreadLocale()), old_ui_(GetThreadUILanguage()) {
    SetThreadUILanguage(static_cast<LANGID>(lang));
    SetThreadLocale(MAKELCID(lang, SORT_DEFAULT));
  }
  ~ThreadLanguage() {
    SetThreadUILanguage(old_ui_);
    SetThreadLocale(old_locale_);
  }

 private:
  LCID old_locale_;
  LANGID old_ui_;
};

// The executable's STRINGTABLE holds the one table's texts, byte for byte
// after the round trip through the resource compiler, in every language.
TEST(Win32StringResources, LoadsTheTableTextsInTheThreadsLanguage) {
  Win32StringResources strings;
  const std::vector<int> languages = StringTableLanguages();
  ASSERT_EQ(languages.size(), 11u);
  int checked = 0;
  for (int lang : languages) {
    ThreadLanguage language(lang);
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
      const char* expected = StringTableText(lang, id);
      ASSERT_NE(expected, nullptr);
      EXPECT_EQ(strings.Load(id), expected) << "language " << lang << ", id " << id;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 11 * (kLastStringId - kFirstStringId + 1));
  EXPECT_EQ(strings.Load(kFirstStringId - 1), "");
  EXPECT_EQ(strings.Load(kLastStringId + 1), "");
}

}  // namespace
}  // namespace kvx
