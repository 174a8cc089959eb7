#pragma once
// The program's string table: messages 102 to 111 in eleven languages,
// identified by their Windows language ids. Every platform's string
// resources are built from this one table.
#include <string_view>
#include <vector>

namespace kvx {

inline constexpr int kLangEnglish = 1033;

// The text of string `id` in language `lang`; null when the table has no
// such language or id.
const char* StringTableText(int lang, int id);

// The language ids of the table, in its order.
std::vector<int> StringTableLanguages();

// The language id for a POSIX locale name ("de_DE.UTF-8", "zh_TW", "C");
// English for a name that matches no language of the table.
int LanguageForLocaleName(std::string_view locale_name);

}  // namespace kvx
