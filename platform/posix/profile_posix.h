#pragma once
#include <string>
#include <vector>

#include "platform/posix/path_map.h"
#include "platform/profile.h"

namespace kvx {

// An INI file as the profile functions see it: sections in file order
// (the one before the first header has an empty name), each with its
// entries in order; an entry without "=" has no value. Blank lines are not
// kept; names and values are trimmed.
struct ProfileData {
  enum class Encoding { kNarrow, kUtf8Mark, kUtf16Le, kUtf16Be };
  struct Entry {
    std::string name;
    std::string value;
    bool has_value = false;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Encoding encoding = Encoding::kNarrow;
  std::vector<Section> sections;
};

ProfileData ParseProfile(const std::string& bytes);
std::string SerializeProfile(const ProfileData& data);

// The profile functions over files of the POSIX file system. Each call
// reads the file anew and a write rewrites it whole.
class PosixPrivateProfile : public PrivateProfile {
 public:
  explicit PosixPrivateProfile(const PathMap& paths) : paths_(paths) {}
  uint32_t GetString(const std::string& section, const std::string& key,
                     const std::string& default_value, std::u16string& out, uint32_t size,
                     const std::string& file) override;
  uint32_t GetInt(const std::string& section, const std::string& key, int default_value,
                  const std::string& file) override;
  uint32_t GetSectionNames(std::u16string& buffer, uint32_t size, const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;

 private:
  bool Load(const std::string& file, ProfileData& data, std::string* native);
  const PathMap& paths_;
};

}  // namespace kvx
