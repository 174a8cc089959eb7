#pragma once
#include "platform/registry.h"

namespace kvx {

// The current user's registry (HKEY_CURRENT_USER) through RegQueryValueW
// and RegSetValueW. Default-constructible.
class Win32Registry : public Registry {
 public:
  bool ReadDefaultValue(const std::string& key, size_t max_units, std::string& out) override;
  bool WriteDefaultValue(const std::string& key, const std::string& value) override;
};

}  // namespace kvx
