// The profile (INI) functions over any file, followed by writes the input
// chooses. Properties: the section-name buffer of any size is the start of
// the whole list and ends in a NUL; every key of every section reads as it
// read before the writes unless a write replaced it; a written value reads
// back as written (outer blanks, Ctrl-Z among them, and one pair of
// enclosing quotation marks gone, as the read returns every value); the
// file keeps its encoding. Untouched keys and written values are held to
// what Windows' own functions promise of them: see Renamed.
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/text.h"
#include "core/utf.h"
#include "fuzz/fuzz_support.h"
#include "platform/posix/profile_posix.h"

namespace kvx::fuzz {
namespace {

constexpr uint32_t kRoom = 1 << 16;
const char kFile[] = "~:\\profile.ini";

// The blanks Windows' profile functions trim from names and values: VT, FF
// and Ctrl-Z as well as space and tab (a line end never gets this far).
const char kBlanks[] = " \t\v\f\x1a";

std::string Unblanked(const std::string& s) {
  const size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

bool EndsInBlank(const std::string& s) {
  return !s.empty() && std::string(kBlanks).find(s.back()) != std::string::npos;
}

// What a read returns for a value stored as `value`.
std::string AsRead(const std::string& value) {
  std::string v = Unblanked(value);
  if (v.size() > 1 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  return v;
}

// Text a caller may hand the functions as a name or a value: UTF-8 on one
// line. A name is more than blanks; a section name holds no "]", a key
// name no "=" and does not begin with "[".
bool OneLine(const std::string& s) {
  return IsWellFormedUtf8(s) && s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}
bool SectionName(const std::string& s) {
  return OneLine(s) && !Unblanked(s).empty() && s.find(']') == std::string::npos;
}
bool KeyName(const std::string& s) {
  const std::string u = Unblanked(s);
  return OneLine(s) && !u.empty() && u[0] != '[' && s.find('=') == std::string::npos;
}

std::u16string Read(PrivateProfile& profile, const std::string& section, const std::string& key) {
  std::u16string out;
  profile.GetString(section, key, "", out, kRoom, kFile);
  return out;
}

struct Key {
  std::string section, key;
  bool operator<(const Key& o) const {
    const std::string a = ToLowerAscii(Unblanked(section)), b = ToLowerAscii(Unblanked(o.section));
    if (a != b) return a < b;
    return ToLowerAscii(Unblanked(key)) < ToLowerAscii(Unblanked(o.key));
  }
};

// Names and values a write changes in the file. A name or value ends at a
// NUL, so one that holds blanks right before a NUL reads with them: a
// lookup, which trims the name it is given, does not find such a section
// or key, and a value reads with blanks at its end. A write puts every
// line back without what followed the NUL, and the next read trims the
// blanks: a section or key that could not be found now is, ahead of any
// later one of its name (a write may have added one), and the value loses
// its blanks. Windows' functions do just that; so the properties leave out
// the sections and keys that such a name or value concerns.
struct Renamed {
  std::set<std::string> sections;                       // trimmed, lower case
  std::set<std::pair<std::string, std::string>> keys;  // the same
  bool Concerns(const Key& k) const {
    const std::string s = ToLowerAscii(Unblanked(k.section));
    return sections.count(s) || keys.count({s, ToLowerAscii(Unblanked(k.key))});
  }
};

// Every key the file's sections hold, each named as the file names it.
std::vector<Key> KeysOf(PrivateProfile& profile, const std::string& bytes) {
  std::u16string names;
  profile.GetSectionNames(names, kRoom, kFile);
  const ProfileData parsed = ParseProfile(bytes);
  std::vector<Key> keys;
  for (size_t start = 0; start < names.size() && names[start] != 0;) {
    const size_t end = names.find(u'\0', start);
    const std::string section = Utf16ToUtf8(names.substr(start, end - start));
    start = end + 1;
    for (const ProfileData::Section& s : parsed.sections)
      if (EqualsIgnoringCase(s.name, section)) {
        for (const ProfileData::Entry& e : s.entries) keys.push_back({section, e.name});
        break;  // reads see the first section of a name
      }
  }
  return keys;
}

Renamed RenamedIn(PrivateProfile& profile, const std::string& bytes) {
  Renamed renamed;
  std::u16string names;
  profile.GetSectionNames(names, kRoom, kFile);
  for (size_t start = 0; start < names.size() && names[start] != 0;) {
    const size_t end = names.find(u'\0', start);
    const std::string section = Utf16ToUtf8(names.substr(start, end - start));
    start = end + 1;
    if (EndsInBlank(section)) renamed.sections.insert(ToLowerAscii(Unblanked(section)));
  }
  for (const ProfileData::Section& s : ParseProfile(bytes).sections)
    for (const ProfileData::Entry& e : s.entries)
      if (EndsInBlank(e.name))
        renamed.keys.insert({ToLowerAscii(Unblanked(s.name)), ToLowerAscii(Unblanked(e.name))});
  return renamed;
}

void CheckSectionNames(PrivateProfile& profile) {
  std::u16string full;
  const uint32_t count = profile.GetSectionNames(full, kRoom, kFile);
  Require(count + 1 == full.size() && full.back() == 0, "the whole list ends in its final NUL");
  for (uint32_t size = 0; size < std::min<uint32_t>(count + 3, 64); ++size) {
    std::u16string part;
    const uint32_t n = profile.GetSectionNames(part, size, kFile);
    Require(part.size() <= size, "the buffer holds no more than its size");
    Require(n <= part.size() && part.compare(0, n, full, 0, n) == 0,
            "a smaller buffer holds the start of the list");
    if (size > 0) Require(part.back() == 0, "the buffer ends in a NUL");
  }
}

std::string Mark(const std::string& bytes) {
  for (const char* mark : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"})
    if (bytes.compare(0, std::string(mark).size(), mark) == 0) return mark;
  return std::string();
}

}  // namespace

void CheckInput(const uint8_t* data, size_t size) {
  FuzzVolume& volume = FuzzVolume::Shared();
  volume.Reset();
  InputReader in(data, size);
  std::vector<std::pair<Key, std::string>> writes;
  for (int n = in.Byte() % 8; n > 0; --n) {
    Key k{in.Short(), in.Short()};
    std::string value = in.Short();
    if (SectionName(k.section) && KeyName(k.key) && OneLine(value)) writes.push_back({k, value});
  }
  const std::string before = in.Rest();
  volume.Put("profile.ini", before);

  std::map<Key, std::u16string> reads;
  Renamed renamed;
  {
    PosixPrivateProfile profile(volume.paths());
    CheckSectionNames(profile);
    renamed = RenamedIn(profile, before);
    for (const Key& k : KeysOf(profile, before))
      if (!reads.count(k)) reads[k] = Read(profile, k.section, k.key);
  }
  if (writes.empty()) return;
  {
    PosixPrivateProfile profile(volume.paths());
    for (const auto& [k, value] : writes)
      Require(profile.WriteString(k.section, k.key, value, kFile), "a value can be written");
    Require(profile.Flush(kFile), "the file is written");
  }
  std::map<Key, std::string> written;
  for (const auto& [k, value] : writes) written[k] = value;  // the last write of a key stays

  const std::string after = volume.Get("profile.ini");
  Require(Mark(after) == Mark(before), "the file keeps its encoding");
  PosixPrivateProfile profile(volume.paths());
  for (const auto& [k, value] : written)
    if (!renamed.Concerns(k))
      Require(Read(profile, k.section, k.key) == Utf8ToUtf16(AsRead(value)),
              "a written value reads back as written");
  // A key without a name is left out: a line that begins with NUL holds one
  // without a value, which the write-back writes as an empty line, as
  // Windows' own functions do, so that a later nameless key reads in its
  // place afterwards. The files agree byte for byte with Windows' instead.
  for (const auto& [k, value] : reads)
    if (!written.count(k) && !Unblanked(k.key).empty() && !renamed.Concerns(k) &&
        !EndsInBlank(Utf16ToUtf8(value)))
      Require(Read(profile, k.section, k.key) == value, "a key no write touched reads as before");
  CheckSectionNames(profile);
}

}  // namespace kvx::fuzz
