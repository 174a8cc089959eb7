#pragma once
#include "platform/string_resources.h"

namespace kvx {

// The string table among the executable's own resources (LoadStringW from
// the module that started the process, even when this code runs in a
// library), in the language that the system's resource lookup picks for the
// running thread. The STRINGTABLE is generated at build time from
// platform/string_table.cc, so it holds the same texts as the POSIX build.
// Default-constructible.
class Win32StringResources : public StringResources {
 public:
  std::string Load(int id) override;
};

}  // namespace kvx
