#pragma once
#include "platform/profile.h"

namespace kvx {

// The system's own private-profile functions (GetPrivateProfileStringW
// and the rest): the file format, the cache and the truncation rules are
// the system's. Default-constructible.
class Win32PrivateProfile : public PrivateProfile {
 public:
  uint32_t GetString(const std::string& section, const std::string& key,
                     const std::string& default_value, std::u16string& out, uint32_t size,
                     const std::string& file) override;
  uint32_t GetInt(const std::string& section, const std::string& key, int default_value,
                  const std::string& file) override;
  uint32_t GetSectionNames(std::u16string& buffer, uint32_t size, const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
  bool Flush(const std::string& file) override;
};

}  // namespace kvx
