#include "platform/string_table.h"

#include <gtest/gtest.h>

#include <string>

namespace kvx {
namespace {

const int kLanguages[] = {1028, 1031, 1033, 1036, 1040, 1041, 1042, 1043, 1053, 2052, 3082};

int CountPlaceholders(const std::string& s) {
  int n = 0;
  for (size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == '%') {
      EXPECT_EQ(s[i + 1], 's') << s;
      ++n;
    }
  return n;
}

TEST(StringTable, EveryLanguageCarriesEveryMessage) {
  for (int lang : kLanguages) {
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
      const char* text = StringTableText(lang, id);
      ASSERT_NE(text, nullptr) << lang << " " << id;
      const std::string s = text;
      EXPECT_FALSE(s.empty());
      // The same placeholders as the English text: the texts are filled in
      // order, whatever the language.
      EXPECT_EQ(CountPlaceholders(s), CountPlaceholders(StringTableText(kLangEnglish, id)))
          << lang << " " << id;
      const bool own_line_feed = s.back() == '\n';
      if (id >= 102 && id <= 107) {
        const bool irregular = lang == 2052 && (id == 106 || id == 107);
        EXPECT_EQ(own_line_feed, !irregular) << lang << " " << id;
      }
      // The lines of the two modes get their line end from the mode; the
      // one whole message of /list carries its own.
      if (id >= kValidHeader) {
        EXPECT_EQ(own_line_feed, id == kListNoModule) << lang << " " << id;
      }
    }
  }
  EXPECT_EQ(StringTableText(1033, kFirstStringId - 1), nullptr);
  EXPECT_EQ(StringTableText(1033, kLastStringId + 1), nullptr);
  EXPECT_EQ(StringTableText(1049, 102), nullptr);
}

TEST(StringTable, OnlyTheValidationReportOfTheFirstMessagesHasPlaceholders) {
  for (int id = 102; id <= 111; ++id)
    EXPECT_EQ(CountPlaceholders(StringTableText(kLangEnglish, id)), id == 110 ? 4 : 0) << id;
}

TEST(StringTable, EnglishTextsAreTheShippedOnes) {
  EXPECT_STREQ(StringTableText(1033, 110),
               "Validation failed on %s \n=====================\nReason: %s\nSource: %s\nLine: %s\n");
  EXPECT_STREQ(StringTableText(1033, 111),
               "Cannot process the request. Another utility or application is currently running.\n");
  EXPECT_STREQ(StringTableText(1033, 109), "Error");
}

TEST(StringTable, LocaleNamesPickTheirLanguage) {
  EXPECT_EQ(LanguageForLocaleName("de_DE.UTF-8"), 1031);
  EXPECT_EQ(LanguageForLocaleName("de_AT"), 1031);
  EXPECT_EQ(LanguageForLocaleName("fr_CA.ISO-8859-1@euro"), 1036);
  EXPECT_EQ(LanguageForLocaleName("zh_TW.UTF-8"), 1028);
  EXPECT_EQ(LanguageForLocaleName("zh_HK"), 1028);
  EXPECT_EQ(LanguageForLocaleName("zh_CN.GB18030"), 2052);
  EXPECT_EQ(LanguageForLocaleName("zh"), 2052);
  EXPECT_EQ(LanguageForLocaleName("ja_JP.eucJP"), 1041);
  EXPECT_EQ(LanguageForLocaleName("es_MX"), 3082);
  EXPECT_EQ(LanguageForLocaleName("sv_SE"), 1053);
  EXPECT_EQ(LanguageForLocaleName("C"), 1033);
  EXPECT_EQ(LanguageForLocaleName("POSIX"), 1033);
  EXPECT_EQ(LanguageForLocaleName("ru_RU.UTF-8"), 1033);
  EXPECT_EQ(LanguageForLocaleName(""), 1033);
}

}  // namespace
}  // namespace kvx
