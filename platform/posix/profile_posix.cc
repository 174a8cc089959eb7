#include "platform/posix/profile_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/text.h"
#include "core/utf.h"

namespace kvx {

namespace {

// The characters the profile functions trim from lines, names and values.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

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

// The text up to the first NUL: what a C string of these bytes holds.
std::string CString(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }

// The first section named `name` (compared without its outer blanks).
ProfileData::Section* FindSection(ProfileData& data, const std::string& name) {
  const std::string wanted = Trim(CString(name));
  for (ProfileData::Section& s : data.sections)
    if (EqualsIgnoringCase(s.name, wanted)) return &s;
  return nullptr;
}

ProfileData::Entry* FindEntry(ProfileData::Section& section, const std::string& name) {
  const std::string wanted = Trim(CString(name));
  for (ProfileData::Entry& e : section.entries)
    if (EqualsIgnoringCase(e.name, wanted)) return &e;
  return nullptr;
}

// Reads from `fd`, a regular file of `size` bytes when last looked at,
// from its start to its end as it is now.
bool ReadFrom(int fd, off_t size, std::string& bytes) {
  bytes.resize(static_cast<size_t>(size) + 1);
  size_t have = 0;
  for (;;) {
    if (have == bytes.size()) bytes.resize(bytes.size() * 2);
    const size_t want = bytes.size() - have;
    const ssize_t n = pread(fd, bytes.data() + have, want, static_cast<off_t>(have));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      bytes.clear();
      return false;
    }
    have += static_cast<size_t>(n);
    // A regular file reads short only at its end.
    if (n == 0 || static_cast<size_t>(n) < want) break;
  }
  bytes.resize(have);
  return true;
}

// A file that exists and may not be written: a folder, pipe or device, or
// a file whose owner may not write it (the read-only attribute), whoever
// asks.
bool RefusesWrites(mode_t mode) { return !S_ISREG(mode) || !(mode & S_IWUSR); }
bool RefusesWrites(const struct stat& st) { return RefusesWrites(st.st_mode); }

// Whether a write to `native` could be carried out: an existing file that
// is not read-only, or a new one in an existing folder.
bool Writable(const std::string& native) {
  struct stat st;
  if (stat(native.c_str(), &st) == 0) return !RefusesWrites(st);
  const size_t slash = native.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Puts `bytes` in the file `native` whole or not at all: they are written
// beside it and renamed over it, with the old file's mode (and, for root,
// its owner). A link is written through to the file it names. A read-only
// file is refused and left as it was.
bool ReplaceContents(const std::string& native, const std::string& bytes) {
  std::string target = native;
  struct stat st;
  if (lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = realpath(native.c_str(), nullptr);
    if (real == nullptr) return false;
    target = real;
    std::free(real);
  }
  const bool existed = stat(target.c_str(), &st) == 0;
  if (existed && RefusesWrites(st)) return false;
  const std::string temp = target + ".kvxtmp";
  unlink(temp.c_str());  // a leftover of ours; never a link's target
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  bool ok = true;
  if (existed) {
    ok = fchmod(fd, st.st_mode & 07777) == 0;
    if (ok && geteuid() == 0 && (st.st_uid != 0 || st.st_gid != 0))
      ok = fchown(fd, st.st_uid, st.st_gid) == 0;
  }
  ok = ok && WriteAll(fd, bytes);
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// The value a read returns for `value`: one pair of enclosing quotation
// marks removed, cut to `size` - 1 units.
std::u16string ReadResult(const std::string& value, uint32_t size) {
  std::string v = value;
  if (v.size() > 1 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  return size == 0 ? std::u16string() : Utf8ToUtf16(v).substr(0, size - 1);
}

// The integer a text spells as the system reads one: blanks and control
// characters skipped, a sign, then decimal digits, or after "0x", "0o" or
// "0b" hexadecimal, octal or binary ones, up to the first other character;
// a number too large for 32 bits keeps its low 32 bits.
uint32_t ParseInteger(const std::u16string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] <= u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == u'0') {
    const char16_t p = text[i + 1];
    base = p == u'x' ? 16 : p == u'o' ? 8 : p == u'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  uint32_t total = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    uint32_t digit;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (c >= u'a' && c <= u'z') digit = c - u'a' + 10;
    else if (c >= u'A' && c <= u'Z') digit = c - u'A' + 10;
    else break;
    if (digit >= base) break;
    total = total * base + digit;
  }
  return negative ? 0u - total : total;
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
  // A key without a name right after another one without a name adds
  // nothing: the first of them is the one found.
  bool after_nameless = false;
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
      if (close != std::string::npos && close > 0) {
        data.sections.push_back({CString(Trim(std::string_view(line).substr(1, close - 1))), {}});
        after_nameless = false;
        continue;
      }  // no "]": a key
    }
    ProfileData::Entry entry;
    const size_t eq = line.find('=');
    const std::string name = eq == std::string::npos ? line : Trim(std::string_view(line).substr(0, eq));
    if (name.empty() && after_nameless) continue;
    entry.name = CString(name);
    if (eq != std::string::npos) {
      entry.value = CString(Trim(std::string_view(line).substr(eq + 1)));
      entry.has_value = true;
    }
    after_nameless = entry.name.empty();
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
    case ProfileData::Encoding::kNarrow:
      // Narrow text is read back as UTF-16 or marked UTF-8 when its first
      // bytes are such a mark; a leading line end keeps it narrow.
      if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0 ||
          text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return "\r\n" + text;
      return text;
    case ProfileData::Encoding::kUtf8Mark: return "\xEF\xBB\xBF" + text;
    case ProfileData::Encoding::kUtf16Le:
    case ProfileData::Encoding::kUtf16Be: {
      const bool le = data.encoding == ProfileData::Encoding::kUtf16Le;
      return (le ? "\xFF\xFE" : "\xFE\xFF") + EncodeUtf16Bytes(Utf8ToUtf16(text), le);
    }
  }
  return text;
}

PosixPrivateProfile::~PosixPrivateProfile() {
  for (Cached& entry : cache_) WriteBack(entry);
}

PosixPrivateProfile::HeldFile& PosixPrivateProfile::HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd = other.fd;
    dev = other.dev;
    ino = other.ino;
    mode = other.mode;
    other.fd = -1;
    other.mode = 0;
  }
  return *this;
}

void PosixPrivateProfile::HeldFile::Close() {
  if (fd >= 0) close(fd);
  fd = -1;
  mode = 0;
}

bool PosixPrivateProfile::HeldFile::Read(const std::string& native, const struct stat* seen,
                                         std::string& bytes) {
  bytes.clear();
  // The file the name gives now: the one held, as long as the name still
  // leads to it; another one (the file was replaced) is opened instead. A
  // regular file just seen by its name (no link) needs no second look.
  struct stat st;
  if (seen != nullptr && S_ISREG(seen->st_mode)) {
    st = *seen;
  } else if (stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return false;
  }
  if (fd < 0 || st.st_dev != dev || st.st_ino != ino) {
    Close();
    // A pipe or device put in its place since is not waited for.
    const int opened = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (opened < 0) return false;
    if (fstat(opened, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(opened);
      return false;
    }
    fd = opened;
    dev = st.st_dev;
    ino = st.st_ino;
  }
  if (!ReadFrom(fd, st.st_size, bytes)) {
    Close();
    return false;
  }
  mode = st.st_mode;
  return true;
}

void PosixPrivateProfile::SettleView(View& view) {
  if (view.settle == Settle::kNone) return;
  // The file keeps the write as it was given; only what is read of it
  // changes.
  view.image = SerializeProfile(view.data);
  switch (view.settle) {
    case Settle::kNone: break;
    case Settle::kTrimValue: {
      std::string& value = view.data.sections[view.section].entries[view.entry].value;
      value = TrimRight(value);
      break;
    }
    case Settle::kReparse:
      view.data = ParseProfile(SerializeProfile(view.data));
      view.round_trips = false;  // not known until looked at
      break;
  }
  view.settle = Settle::kNone;
}

void PosixPrivateProfile::Apply(View& view, const Write& write) {
  SettleView(view);
  const std::string section = Trim(write.section);
  const std::string key = Trim(write.key);
  const std::string value = TrimLeft(write.value);
  ProfileData& data = view.data;
  ProfileData::Section* s = FindSection(data, section);
  const bool new_section = s == nullptr;
  if (new_section) {
    data.sections.push_back({section, {}});
    s = &data.sections.back();
  }
  ProfileData::Entry* e = FindEntry(*s, key);
  if (e != nullptr && e->has_value && e->value == value) return;  // nothing to write
  // The write puts every line of the file anew, and the next read sees
  // them parsed: a line that does not come back as it was read (a name or
  // value cut at a NUL after blanks loses them) reads differently from now
  // on, as it does with the system's functions.
  if (!view.round_trips) view.round_trips = ParseProfile(SerializeProfile(data)) == data;
  const bool others_change = !view.round_trips;
  const bool nameless_after_nameless =
      e == nullptr && key.empty() && !s->entries.empty() && s->entries.back().name.empty();
  if (e == nullptr) {
    s->entries.push_back({key, "", false});
    e = &s->entries.back();
  }
  e->value = value;
  e->has_value = true;
  view.changed = true;
  view.image.reset();
  // The file holds the value as written; what reads it next sees the lines
  // parsed again. Most writes read back as they are; find the others.
  const std::string header = "[" + (new_section ? section : std::string("x")) + "]\r\n";
  const ProfileData back = ParseProfile(header + e->name + "=" + value + "\r\n");
  const bool same_lines = back.sections.size() == 2 && back.sections[0].entries.empty() &&
                          back.sections[1].name == (new_section ? section : "x") &&
                          back.sections[1].entries.size() == 1 &&
                          back.sections[1].entries[0].name == e->name;
  if (!same_lines || nameless_after_nameless || others_change) {
    view.settle = Settle::kReparse;
  } else if (back.sections[1].entries[0].value != value) {
    view.settle = back.sections[1].entries[0].value == TrimRight(value) ? Settle::kTrimValue
                                                                          : Settle::kReparse;
    view.section = static_cast<size_t>(s - data.sections.data());
    view.entry = static_cast<size_t>(e - s->entries.data());
  }
}

void PosixPrivateProfile::Rebuild(Cached& entry) {
  entry.view = View();
  entry.view.data = ParseProfile(entry.bytes);
  for (const Write& w : entry.pending) Apply(entry.view, w);
}

PosixPrivateProfile::Cached* PosixPrivateProfile::Load(const std::string& file) {
  std::string path;
  PathMap::Look look;
  if (!paths_.ToNative(file, path, &look)) return nullptr;
  Cached* entry = nullptr;
  for (Cached& c : cache_)
    if (c.path == path) entry = &c;
  bool fresh = entry == nullptr;
  if (fresh) {
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
  }
  entry->used = ++clock_;
  std::string bytes;
  const bool exists = entry->file.Read(path, look.looked && look.exists ? &look.st : nullptr, bytes);
  if (fresh || exists != entry->exists || bytes != entry->bytes) {
    entry->exists = exists;
    entry->bytes = std::move(bytes);
    Rebuild(*entry);
  }
  SettleView(entry->view);
  return entry;
}

uint32_t PosixPrivateProfile::GetString(const std::string& section, const std::string& key,
                                        const std::string& default_value, std::u16string& out,
                                        uint32_t size, const std::string& file) {
  std::string value = CString(default_value);
  while (!value.empty() && value.back() == ' ') value.pop_back();
  if (Cached* entry = Load(file)) {
    if (ProfileData::Section* s = FindSection(entry->view.data, section)) {
      if (ProfileData::Entry* e = FindEntry(*s, key); e && e->has_value) value = e->value;
    }
  }
  out = ReadResult(value, size);
  return static_cast<uint32_t>(out.size());
}

uint32_t PosixPrivateProfile::GetInt(const std::string& section, const std::string& key,
                                     int default_value, const std::string& file) {
  // Read as the system does, into a buffer of 30 units.
  std::u16string units;
  if (GetString(section, key, "", units, 30, file) == 0) return static_cast<uint32_t>(default_value);
  return ParseInteger(units);
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
  for (const ProfileData::Section& s : entry->view.data.sections) {
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
  Cached* entry = Load(file);
  // The file just read says it; a missing one, its folder.
  if (entry == nullptr) return false;
  if (entry->file.mode != 0 ? RefusesWrites(entry->file.mode) : !Writable(entry->path)) return false;
  entry->pending.push_back({CString(section), CString(key), CString(value)});
  Apply(entry->view, entry->pending.back());
  return true;
}

bool PosixPrivateProfile::WriteBack(Cached& entry) {
  if (entry.pending.empty()) return true;
  // The writes go onto what the file holds now.
  std::string bytes;
  const bool exists = entry.file.Read(entry.path, nullptr, bytes);
  if (exists != entry.exists || bytes != entry.bytes) {
    entry.exists = exists;
    entry.bytes = std::move(bytes);
    Rebuild(entry);
  }
  entry.pending.clear();
  if (!entry.view.changed) return true;
  const std::string out = entry.view.image ? *entry.view.image : SerializeProfile(entry.view.data);
  if (!ReplaceContents(entry.path, out)) {
    // The file is as it was, and so is what the functions read.
    Rebuild(entry);
    return false;
  }
  entry.exists = true;
  entry.bytes = out;
  entry.view.changed = false;
  entry.view.image.reset();
  return true;
}

bool PosixPrivateProfile::Flush(const std::string& file) {
  std::string path;
  if (!paths_.ToNative(file, path)) return true;
  for (Cached& entry : cache_)
    if (entry.path == path) return WriteBack(entry);
  return true;
}

}  // namespace kvx
