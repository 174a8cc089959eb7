#include "platform/posix/string_resources_posix.h"

#include "platform/posix/locale_env.h"
#include "platform/string_table.h"

namespace kvx {

PosixStringResources::PosixStringResources()
    : lang_(LanguageForLocaleName(LocaleNameFor("LC_MESSAGES"))) {}

std::string PosixStringResources::Load(int id) {
  const char* text = StringTableText(lang_, id);
  return text ? text : "";
}

}  // namespace kvx
