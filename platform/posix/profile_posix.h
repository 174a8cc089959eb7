#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/path_map.h"
#include "platform/profile.h"

namespace kvx {

// An INI file as the profile functions see it: sections in file order
// (the one before the first header has an empty name), each with its
// entries in order; an entry without "=" has no value. Blank lines are not
// kept; names and values are trimmed of blanks (space, tab, CR, LF, VT, FF
// and Ctrl-Z) and end at a NUL, as the C strings of the system's functions
// do.
struct ProfileData {
  enum class Encoding { kNarrow, kUtf8Mark, kUtf16Le, kUtf16Be };
  struct Entry {
    std::string name;
    std::string value;
    bool has_value = false;
    bool operator==(const Entry&) const = default;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    bool operator==(const Section&) const = default;
  };
  Encoding encoding = Encoding::kNarrow;
  std::vector<Section> sections;
  bool operator==(const ProfileData&) const = default;
};

ProfileData ParseProfile(const std::string& bytes);
// The file's bytes. Narrow text that would begin with a byte-order mark is
// preceded by a line end, so that it is read back as the text it is.
std::string SerializeProfile(const ProfileData& data);

// The profile functions over files of the POSIX file system.
//
// A read always sees the file as it is at that moment: every call reads the
// file's bytes (through a descriptor kept open while the name still leads
// to the same file, so that a call costs a look at the name and one read),
// and the parsed form of the last few files is reused only
// while those bytes are exactly the bytes it was parsed from. The only
// state kept beyond that are the writes not yet flushed; they are applied,
// in order, to whatever the file holds, so a file replaced behind our back
// is seen with those writes on top of its new content. Flushing writes the
// file beside itself and renames it over the old one, keeping its mode; a
// read-only file (its owner may not write it) is never written, whoever
// runs the tool.
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
  struct Write {
    std::string section, key, value;
  };
  // What a write left that the next read of the file will see otherwise:
  // the file is written as the write was given, and read back as a parse.
  enum class Settle { kNone, kTrimValue, kReparse };
  struct View {
    ProfileData data;
    bool changed = false;  // differs from the file it was parsed from
    Settle settle = Settle::kNone;
    size_t section = 0, entry = 0;  // the entry a kTrimValue concerns
    // Whether `data` is known to be what a parse of its own file image
    // gives. A file can hold lines that do not come back so once written
    // (a name or value cut at a NUL right after blanks, a nameless key
    // without a value, a header with an empty name); the first write to
    // such a view changes what every later read sees of them.
    bool round_trips = false;
    // Once settled, the file's bytes as the last change wrote them, until
    // the next change.
    std::optional<std::string> image;
  };
  // A descriptor of the file a name led to when last read, kept for the
  // next read of that name.
  struct HeldFile {
    int fd = -1;
    unsigned long long dev = 0, ino = 0;
    unsigned mode = 0;  // of the last read that found the file, else 0
    HeldFile() = default;
    HeldFile(HeldFile&& other) noexcept { *this = std::move(other); }
    HeldFile& operator=(HeldFile&& other) noexcept;
    ~HeldFile() { Close(); }
    void Close();
    // The bytes of the regular file that `native` names now, read whole;
    // false (and nothing) when there is none or it cannot be read. `seen`,
    // when given, is the name's lstat taken just before.
    bool Read(const std::string& native, const struct stat* seen, std::string& bytes);
  };
  struct Cached {
    std::string path;  // native
    HeldFile file;
    bool exists = false;
    std::string bytes;  // the file's bytes `view` was parsed from
    View view;
    std::vector<Write> pending;  // not yet in the file
    unsigned long long used = 0;
  };
  static constexpr size_t kCachedFiles = 4;

  // The cached file, brought up to the file's current bytes, or null when
  // the path names no file on this machine.
  Cached* Load(const std::string& file);
  // Parses `entry`'s bytes anew and applies its pending writes.
  static void Rebuild(Cached& entry);
  static void Apply(View& view, const Write& write);
  static void SettleView(View& view);
  // Writes a cached file when it holds changes. On failure the file is left
  // as it was and the changes are dropped.
  static bool WriteBack(Cached& entry);

  const PathMap& paths_;
  std::vector<Cached> cache_;
  unsigned long long clock_ = 0;
};

}  // namespace kvx
