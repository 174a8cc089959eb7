#include "platform/posix/profile_posix.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/text.h"
#include "core/utf.h"

namespace kvx {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

// The first section named `name` (compared without its outer blanks).
ProfileData::Section* FindSection(ProfileData& data, const std::string& name) {
  const std::string wanted = Trim(name);
  for (ProfileData::Section& s : data.sections)
    if (EqualsIgnoringCase(s.name, wanted)) return &s;
  return nullptr;
}

ProfileData::Entry* FindEntry(ProfileData::Section& section, const std::string& name) {
  const std::string wanted = Trim(name);
  for (ProfileData::Entry& e : section.entries)
    if (EqualsIgnoringCase(e.name, wanted)) return &e;
  return nullptr;
}

}  // namespace

ProfileData ParseProfile(const std::string& bytes) {
  ProfileData data;
  std::string text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    data.encoding = ProfileData::Encoding::kUtf16Le;
    text = Utf16ToUtf8(DecodeUtf16Bytes(std::string_view(bytes).substr(2), true));
  } else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    data.encoding = ProfileData::Encoding::kUtf16Be;
    text = Utf16ToUtf8(DecodeUtf16Bytes(std::string_view(bytes).substr(2), false));
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    data.encoding = ProfileData::Encoding::kUtf8Mark;
    text = bytes.substr(3);
  } else {
    text = bytes;
  }
  data.sections.push_back({});  // entries before the first header
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    if (line.empty()) continue;
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      const std::string name = close == std::string::npos || close == 0
                                   ? line.substr(1)
                                   : line.substr(1, close - 1);
      data.sections.push_back({Trim(name), {}});
      continue;
    }
    ProfileData::Entry entry;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      entry.name = line;
    } else {
      entry.name = Trim(std::string_view(line).substr(0, eq));
      entry.value = Trim(std::string_view(line).substr(eq + 1));
      entry.has_value = true;
    }
    data.sections.back().entries.push_back(std::move(entry));
  }
  return data;
}

std::string SerializeProfile(const ProfileData& data) {
  std::string text;
  for (const ProfileData::Section& s : data.sections) {
    if (!s.name.empty()) text += "[" + s.name + "]\r\n";
    for (const ProfileData::Entry& e : s.entries)
      text += e.has_value ? e.name + "=" + e.value + "\r\n" : e.name + "\r\n";
  }
  switch (data.encoding) {
    case ProfileData::Encoding::kNarrow: return text;
    case ProfileData::Encoding::kUtf8Mark: return "\xEF\xBB\xBF" + text;
    case ProfileData::Encoding::kUtf16Le:
    case ProfileData::Encoding::kUtf16Be: {
      const bool le = data.encoding == ProfileData::Encoding::kUtf16Le;
      return (le ? "\xFF\xFE" : "\xFE\xFF") + EncodeUtf16Bytes(Utf8ToUtf16(text), le);
    }
  }
  return text;
}

PosixPrivateProfile::FileKey PosixPrivateProfile::KeyOf(const std::string& native) {
  FileKey key;
  struct stat st;
  if (stat(native.c_str(), &st) == 0) {
    key = {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
           static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
           static_cast<long long>(st.st_mtim.tv_nsec)};
  }
  return key;
}

PosixPrivateProfile::~PosixPrivateProfile() {
  for (Cached& entry : cache_) WriteBack(entry);
}

PosixPrivateProfile::Cached* PosixPrivateProfile::Load(const std::string& file) {
  std::string path;
  if (!paths_.ToNative(file, path)) return nullptr;
  Cached* entry = nullptr;
  for (Cached& c : cache_)
    if (c.path == path) entry = &c;
  if (entry == nullptr) {
    if (cache_.size() < kCachedFiles) {
      cache_.emplace_back();
      entry = &cache_.back();
    } else {
      entry = &cache_[0];
      for (Cached& c : cache_)
        if (c.used < entry->used) entry = &c;
      WriteBack(*entry);
    }
    *entry = Cached();
    entry->path = path;
    entry->key.size = -2;  // never matches: parse below
  }
  entry->used = ++clock_;
  if (entry->dirty) return entry;  // the cache is newer than the file
  const FileKey key = KeyOf(path);
  if (key == entry->key && key.size >= 0) return entry;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  entry->data = ParseProfile(bytes.str());
  entry->key = key;
  return entry;
}

uint32_t PosixPrivateProfile::GetString(const std::string& section, const std::string& key,
                                        const std::string& default_value, std::u16string& out,
                                        uint32_t size, const std::string& file) {
  std::string value = TrimRight(default_value);
  if (Cached* entry = Load(file)) {
    if (ProfileData::Section* s = FindSection(entry->data, section)) {
      if (ProfileData::Entry* e = FindEntry(*s, key); e && e->has_value) {
        value = e->value;
        if (value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
          value = value.substr(1, value.size() - 2);
      }
    }
  }
  out = size == 0 ? std::u16string() : Utf8ToUtf16(value).substr(0, size - 1);
  return static_cast<uint32_t>(out.size());
}

uint32_t PosixPrivateProfile::GetInt(const std::string& section, const std::string& key,
                                     int default_value, const std::string& file) {
  std::u16string units;
  GetString(section, key, "", units, 2048, file);
  if (units.empty()) return static_cast<uint32_t>(default_value);
  const std::string value = Utf16ToUtf8(units);
  const char* p = value.c_str();
  const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  return static_cast<uint32_t>(std::strtoul(p, nullptr, hex ? 16 : 10));
}

uint32_t PosixPrivateProfile::GetSectionNames(std::u16string& buffer, uint32_t size,
                                              const std::string& file) {
  buffer.clear();
  if (size == 0) return 0;
  if (size == 1) {
    buffer.push_back(0);
    return 0;
  }
  const Cached* entry = Load(file);
  if (entry == nullptr) {
    buffer.push_back(0);
    return 0;
  }
  uint32_t room = size - 1;  // the final NUL always has its place
  for (const ProfileData::Section& s : entry->data.sections) {
    if (s.name.empty()) continue;
    const std::u16string name = Utf8ToUtf16(s.name);
    const uint32_t needed = static_cast<uint32_t>(name.size()) + 1;
    if (needed >= room) {
      buffer.append(name, 0, room - 1);
      buffer.push_back(0);
      buffer.push_back(0);
      return size - 2;
    }
    buffer += name;
    buffer.push_back(0);
    room -= needed;
  }
  const uint32_t count = static_cast<uint32_t>(buffer.size());
  buffer.push_back(0);
  return count;
}

bool PosixPrivateProfile::WriteString(const std::string& section, const std::string& key,
                                      const std::string& value, const std::string& file) {
  Cached* cached = Load(file);
  if (cached == nullptr) return false;
  ProfileData& data = cached->data;
  ProfileData::Section* s = FindSection(data, section);
  if (s == nullptr) {
    data.sections.push_back({TrimLeft(section), {}});
    s = &data.sections.back();
  }
  ProfileData::Entry* e = FindEntry(*s, key);
  if (e == nullptr) {
    s->entries.push_back({TrimLeft(key), "", false});
    e = &s->entries.back();
  }
  e->value = TrimLeft(value);
  e->has_value = true;
  cached->dirty = true;
  return true;
}

bool PosixPrivateProfile::WriteBack(Cached& entry) {
  if (!entry.dirty) return true;
  entry.dirty = false;
  const std::string bytes = SerializeProfile(entry.data);
  bool ok;
  {
    std::ofstream out(entry.path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ok = static_cast<bool>(out.flush());
  }
  // The cache now holds what the file holds; a failed write forgets it.
  entry.key = ok ? KeyOf(entry.path) : FileKey();
  return ok;
}

bool PosixPrivateProfile::Flush(const std::string& file) {
  std::string path;
  if (!paths_.ToNative(file, path)) return true;
  for (Cached& entry : cache_)
    if (entry.path == path) return WriteBack(entry);
  return true;
}

}  // namespace kvx
