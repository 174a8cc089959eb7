#include "platform/posix/locale_env.h"

#include <cstdlib>

namespace kvx {

std::string LocaleNameFor(const char* category_variable) {
  for (const char* name : {"LC_ALL", category_variable, "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

}  // namespace kvx
