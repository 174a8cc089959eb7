#pragma once
#include "platform/string_resources.h"

namespace kvx {

// The string table in the language of the LC_MESSAGES locale (LC_ALL,
// LC_MESSAGES, LANG); English when it matches no language of the table.
class PosixStringResources : public StringResources {
 public:
  PosixStringResources();
  std::string Load(int id) override;
  int language() const { return lang_; }

 private:
  int lang_;
};

}  // namespace kvx
