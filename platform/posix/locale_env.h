#pragma once
// The locale a POSIX program runs in, read from its environment the way
// POSIX programs choose it: LC_ALL, then the category's own variable, then
// LANG; "C" when none is set.
#include <string>

namespace kvx {

// `category_variable` is "LC_MESSAGES" or "LC_CTYPE".
std::string LocaleNameFor(const char* category_variable);

}  // namespace kvx
