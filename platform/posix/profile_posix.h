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

// The profile functions over files of the POSIX file system. The parsed
// form of the last few files used is kept while each file is unchanged
// (same inode, size and modification time), and writes are held there
// until the file is flushed, so that a run of calls on a few files parses
// and writes each once instead of once per call.
class PosixPrivateProfile : public PrivateProfile {
 public:
  explicit PosixPrivateProfile(const PathMap& paths) : paths_(paths) {}
  ~PosixPrivateProfile() override;
  uint32_t GetString(const std::string& section, const std::string& key,
                     const std::string& default_value, std::u16string& out, uint32_t size,
                     const std::string& file) override;
  uint32_t GetInt(const std::string& section, const std::string& key, int default_value,
                  const std::string& file) override;
  uint32_t GetSectionNames(std::u16string& buffer, uint32_t size, const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
  bool Flush(const std::string& file) override;

 private:
  struct FileKey {
    unsigned long long device = 0, inode = 0;
    long long size = -1, mtime_sec = 0, mtime_nsec = 0;
    bool operator==(const FileKey&) const = default;
  };
  static FileKey KeyOf(const std::string& native);

  struct Cached {
    std::string path;  // native
    FileKey key;
    ProfileData data;
    bool dirty = false;
    unsigned long long used = 0;
  };
  static constexpr size_t kCachedFiles = 4;

  // The cached file, or null when the path names no file on this machine.
  Cached* Load(const std::string& file);
  // Writes a cached file when it holds changes.
  static bool WriteBack(Cached& entry);

  const PathMap& paths_;
  std::vector<Cached> cache_;
  unsigned long long clock_ = 0;
};

}  // namespace kvx
