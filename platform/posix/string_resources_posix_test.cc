#include "platform/posix/string_resources_posix.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/string_table.h"

namespace kvx {
namespace {

// Sets the three locale variables for one test and puts them back after.
class LocaleVars {
 public:
  LocaleVars(const char* all, const char* messages, const char* lang) {
    Set("LC_ALL", all);
    Set("LC_MESSAGES", messages);
    Set("LANG", lang);
  }
  ~LocaleVars() {
    for (auto& [name, value] : saved_)
      value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? old : "");
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST(PosixStrings, LcAllThenLcMessagesThenLang) {
  {
    LocaleVars v("fr_FR.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8");
    EXPECT_EQ(PosixStringResources().language(), 1036);
  }
  {
    LocaleVars v(nullptr, "de_DE.UTF-8", "ja_JP.UTF-8");
    EXPECT_EQ(PosixStringResources().language(), 1031);
  }
  {
    LocaleVars v("", "", "ja_JP.UTF-8");
    PosixStringResources strings;
    EXPECT_EQ(strings.language(), 1041);
    EXPECT_EQ(strings.Load(109), "エラー");
  }
  {
    LocaleVars v(nullptr, nullptr, nullptr);
    PosixStringResources strings;
    EXPECT_EQ(strings.language(), 1033);
    EXPECT_EQ(strings.Load(103), "You must specify the XML file name.\n");
    EXPECT_EQ(strings.Load(kListNone), "none");
    EXPECT_EQ(strings.Load(kLastStringId + 1), "");
  }
}

}  // namespace
}  // namespace kvx
