#include "platform/posix/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"

namespace kvx {

namespace {

constexpr const char* kDosAttributes = "user.DOSATTRIB";

class StdioFile : public File {
 public:
  // The stream's buffer is given, so that it is not sized by a look at the
  // file first.
  explicit StdioFile(FILE* f) : f_(f), buffer_(new char[kBuffer]) {
    std::setvbuf(f_, buffer_.get(), _IOFBF, kBuffer);
  }
  ~StdioFile() override { std::fclose(f_); }
  bool Write(const void* data, size_t size) override {
    return std::fwrite(data, 1, size, f_) == size;
  }
  bool Flush() override { return std::fflush(f_) == 0; }
  bool Sync() override { return std::fflush(f_) == 0 && fsync(fileno(f_)) == 0; }
  size_t Read(void* data, size_t size) override { return std::fread(data, 1, size, f_); }
  bool Error() override { return std::ferror(f_) != 0; }
  bool Size(uint64_t& size) override {
    struct stat st;
    if (fstat(fileno(f_), &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
  }

 private:
  static constexpr size_t kBuffer = 8192;
  FILE* f_;
  std::unique_ptr<char[]> buffer_;
};

int64_t FileTime(const struct timespec& t) {
  return (static_cast<int64_t>(t.tv_sec) + 11644473600LL) * 10000000LL + t.tv_nsec / 100;
}

uint32_t StoredBits(const std::string& native) {
  char buf[32] = {};
  const ssize_t n = getxattr(native.c_str(), kDosAttributes, buf, sizeof buf - 1);
  if (n <= 0) return 0;
  return static_cast<uint32_t>(std::strtoul(buf, nullptr, 0)) & (kAttrHidden | kAttrSystem);
}

// The attributes of `native` as Windows reports them; `target`, when given,
// gets what the name leads to (a link followed), and stays untouched when
// it leads nowhere.
uint32_t AttributesOf(const std::string& native, const std::string& name,
                      struct stat* target = nullptr, bool* leads = nullptr,
                      const PathMap::Look* look = nullptr) {
  struct stat st, lst;
  if (look != nullptr && look->looked) {
    if (!look->exists) return kInvalidAttributes;
    lst = look->st;
  } else if (lstat(native.c_str(), &lst) != 0) {
    return kInvalidAttributes;
  }
  const bool link = S_ISLNK(lst.st_mode);
  if (!link) {
    st = lst;
  } else if (stat(native.c_str(), &st) != 0) {
    return kAttrReparsePoint;  // a link whose target is gone
  }
  uint32_t a = 0;
  if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
  else if (!S_ISREG(st.st_mode)) a |= kAttrDevice;
  else if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
  if (name.size() > 1 && name[0] == '.' && name != "..") a |= kAttrHidden;
  a |= StoredBits(native);
  if (link) a |= kAttrReparsePoint;
  if (target != nullptr) *target = st;
  if (leads != nullptr) *leads = true;
  return a == 0 ? kAttrNormal : a;
}

std::string BaseName(const std::string& native) {
  const size_t slash = native.rfind('/');
  return slash == std::string::npos ? native : native.substr(slash + 1);
}

// A regular file its owner may not write: read-only, as Windows sees it.
bool IsReadOnlyFile(const std::string& native) {
  struct stat st;
  return stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
}

// Keeps the map's index of the file's folder current after this process
// made the file.
void NoteCreatedFile(const PathMap& paths, const std::string& native) {
  const size_t slash = native.rfind('/');
  paths.NoteCreated(slash == 0 ? "/" : native.substr(0, slash), native.substr(slash + 1));
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string FolderOf(const std::string& native) {
  const size_t slash = native.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
}

// The path with every link followed. Names that do not exist yet (or are
// links to nothing) are joined unchanged to their nearest existing folder,
// which is resolved; "." or ".." among them cannot be resolved.
bool Resolved(const std::string& native, std::string& out) {
  std::string existing = native;
  std::vector<std::string> rest;
  struct stat st;
  while (stat(existing.c_str(), &st) != 0) {
    const std::string base = BaseName(existing);
    if (base.empty() || base == "." || base == ".." || existing == FolderOf(existing)) return false;
    rest.push_back(base);
    existing = FolderOf(existing);
  }
  char* real = realpath(existing.c_str(), nullptr);
  if (real == nullptr) return false;
  out = real;
  std::free(real);
  for (auto it = rest.rbegin(); it != rest.rend(); ++it) out += (out == "/" ? "" : "/") + *it;
  return true;
}

// Whether `path` lies below `folder` as written with no link on the way:
// each name after `folder` is looked at once, up to the first that does not
// exist yet. False says only that this cannot tell (another folder as
// written, a link, "." or ".."): the caller then follows every link.
bool PlainlyBelow(const std::string& folder, const std::string& path) {
  std::string prefix = folder;
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  if (prefix != "/") prefix += '/';
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
  bool exists = true;
  for (size_t at = prefix.size(); at < path.size();) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string_view name(path.data() + at, end - at);
    if (name == "." || name == "..") return false;
    if (exists && !name.empty()) {
      struct stat st;
      if (lstat(path.substr(0, end).c_str(), &st) != 0) {
        if (errno != ENOENT) return false;
        exists = false;  // what follows is not made yet: only its names count
      } else if (S_ISLNK(st.st_mode)) {
        return false;
      }
    }
    at = end + 1;
  }
  return true;
}

// Whether the Windows path names the root of a drive ("~:", "C:\", "\").
bool IsDriveRoot(const std::string& folder) {
  std::string f = folder;
  while (!f.empty() && IsSeparator(f.back())) f.pop_back();
  return f.empty() || (f.size() == 2 && f[1] == ':');
}

bool MatchFrom(const std::string& name, size_t i, const std::string& mask, size_t j) {
  while (j < mask.size()) {
    if (mask[j] == '*') {
      for (size_t k = i; k <= name.size(); ++k)
        if (MatchFrom(name, k, mask, j + 1)) return true;
      return false;
    }
    if (i >= name.size()) return false;
    if (mask[j] != '?' && std::tolower(static_cast<unsigned char>(mask[j])) !=
                              std::tolower(static_cast<unsigned char>(name[i])))
      return false;
    ++i;
    ++j;
  }
  return i == name.size();
}

}  // namespace

int WindowsErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrorAccessDenied;
    case EEXIST: return 80;  // ERROR_FILE_EXISTS
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    default: return kErrorGenFailure;
  }
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask == "*" || mask == "*.*") return true;
  return MatchFrom(name, 0, mask, 0);
}

int PosixFileSystem::Access(const std::string& path, int mode) {
  std::string native;
  if (!paths_.ToNative(path, native)) return ENOENT;
  int how = 0;
  if (mode & 2) how |= W_OK;
  if (mode & 4) how |= R_OK;
  if (access(native.c_str(), how == 0 ? F_OK : how) != 0) return errno;
  // Root passes the system's check; a read-only file is still not writable.
  if ((mode & 2) && IsReadOnlyFile(native)) return EACCES;
  return 0;
}

std::unique_ptr<File> PosixFileSystem::Open(const std::string& path, const char* mode,
                                            int* error) {
  std::string native;
  if (!paths_.ToNative(path, native)) {
    if (error) *error = kErrorFileNotFound;
    return nullptr;
  }
  // Text and binary modes are the same on POSIX; "t" is not a POSIX mode.
  std::string m;
  for (const char* p = mode; *p; ++p)
    if (*p != 't') m += *p;
  const bool plus = m.find('+') != std::string::npos;
  int flags = O_CLOEXEC | O_NONBLOCK;  // a pipe is never waited for
  switch (m.empty() ? '\0' : m[0]) {
    case 'r': flags |= plus ? O_RDWR : O_RDONLY; break;
    case 'w': flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT; break;
    case 'a': flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default:
      if (error) *error = 87;  // ERROR_INVALID_PARAMETER
      return nullptr;
  }
  struct stat st;
  const bool writes = m[0] != 'r' || plus;
  bool existed = m[0] == 'r';
  if (writes && stat(native.c_str(), &st) == 0) {
    existed = true;
    // A folder is not opened for writing, nor is a read-only file, whoever
    // runs the tool.
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
      if (error) *error = kErrorAccessDenied;
      return nullptr;
    }
  }
  const int fd = open(native.c_str(), flags, 0666);
  if (fd < 0) {
    if (error) *error = WindowsErrorFromErrno(errno == ENXIO ? EACCES : errno);
    return nullptr;
  }
  if (!existed) NoteCreatedFile(paths_, native);
  // Only a regular file is read or written: a folder, a pipe, a device is
  // refused before a byte moves (and before a truncation).
  const bool known = fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    close(fd);
    if (debug_ != nullptr && known && !S_ISDIR(st.st_mode))
      debug_->Write("Open: passed over " + native + ": not a regular file");
    if (error) *error = kErrorAccessDenied;
    return nullptr;
  }
  // O_NONBLOCK stays: it changes nothing for a regular file.
  FILE* f = nullptr;
  if (m[0] != 'w' || ftruncate(fd, 0) == 0) f = fdopen(fd, m.c_str());
  if (f == nullptr) {
    if (error) *error = WindowsErrorFromErrno(errno);
    close(fd);
    return nullptr;
  }
  return std::make_unique<StdioFile>(f);
}

std::unique_ptr<File> PosixFileSystem::CreateNew(const std::string& path, int* error) {
  std::string native;
  PathMap::Look look;
  if (!paths_.ToNative(path, native, &look)) {
    if (error) *error = kErrorFileNotFound;
    return nullptr;
  }
  struct stat st = look.st;
  if (look.looked ? look.exists : lstat(native.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
      if (error) *error = kErrorAccessDenied;
      return nullptr;
    }
    // A leftover, a link (removed itself, its target untouched), a pipe.
    if (unlink(native.c_str()) != 0 && errno != ENOENT) {
      if (error) *error = WindowsErrorFromErrno(errno);
      return nullptr;
    }
  }
  const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error) *error = WindowsErrorFromErrno(errno);
    return nullptr;
  }
  NoteCreatedFile(paths_, native);
  FILE* f = fdopen(fd, "wb");
  if (f == nullptr) {
    if (error) *error = WindowsErrorFromErrno(errno);
    close(fd);
    unlink(native.c_str());
    return nullptr;
  }
  return std::make_unique<StdioFile>(f);
}

bool PosixFileSystem::FindFiles(const std::string& pattern, std::vector<FindEntry>& out) {
  out.clear();
  size_t cut = pattern.size();
  while (cut > 0 && !IsSeparator(pattern[cut - 1])) --cut;
  const std::string folder = pattern.substr(0, cut);
  const std::string mask = pattern.substr(cut);
  std::string native;
  if (!paths_.ToNative(folder.empty() ? "." : folder, native)) return false;
  DIR* dir = opendir(native.c_str());
  if (dir == nullptr) return false;
  const bool root = IsDriveRoot(folder);
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") {
      if (root) continue;
    } else if (!IsWindowsFileName(name)) {
      // Windows could not list it, and joined to the folder's path it could
      // name something outside the folder: it is not listed.
      if (debug_ != nullptr)
        debug_->Write("FindFiles: skipped a name that Windows cannot hold: " + native + "/" + name);
      continue;
    }
    if (!MatchesMask(name, mask)) continue;
    const std::string full = native + "/" + name;
    FindEntry entry;
    entry.name = name;
    struct stat st;
    bool leads = false;
    entry.attributes = AttributesOf(full, name, &st, &leads);
    if (leads) {
      if (!S_ISDIR(st.st_mode)) entry.size = static_cast<uint64_t>(st.st_size);
      entry.last_write = FileTime(st.st_mtim);
    }
    out.push_back(std::move(entry));
  }
  closedir(dir);
  // In name order without regard to case, as the Windows volumes list them.
  std::vector<std::pair<std::string, FindEntry>> keyed;
  keyed.reserve(out.size());
  for (FindEntry& e : out) keyed.emplace_back(ToUpperAscii(e.name), std::move(e));
  std::sort(keyed.begin(), keyed.end(), [](const auto& x, const auto& y) {
    return x.first != y.first ? x.first < y.first : x.second.name < y.second.name;
  });
  out.clear();
  for (auto& [key, e] : keyed) out.push_back(std::move(e));
  return !out.empty();
}

uint32_t PosixFileSystem::GetAttributes(const std::string& path) {
  std::string native;
  PathMap::Look look;
  if (!paths_.ToNative(path, native, &look)) return kInvalidAttributes;
  return AttributesOf(native, BaseName(native), nullptr, nullptr, &look);
}

bool PosixFileSystem::SetAttributes(const std::string& path, uint32_t attributes) {
  std::string native;
  if (!paths_.ToNative(path, native)) return false;
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    const mode_t mode = (attributes & kAttrReadOnly) ? st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)
                                                     : st.st_mode | S_IWUSR;
    if (mode != st.st_mode && chmod(native.c_str(), mode) != 0) return false;
  }
  const uint32_t bits = attributes & (kAttrHidden | kAttrSystem);
  if (bits != 0) {
    char buf[16];
    const int n = std::snprintf(buf, sizeof buf, "0x%x", bits);
    setxattr(native.c_str(), kDosAttributes, buf, static_cast<size_t>(n), 0);
  } else {
    removexattr(native.c_str(), kDosAttributes);
  }
  return true;
}

bool PosixFileSystem::GetLastWriteTime(const std::string& path, int64_t& time) {
  std::string native;
  if (!paths_.ToNative(path, native)) return false;
  const int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  if (ok) time = FileTime(st.st_mtim);
  return ok;
}

bool PosixFileSystem::DeleteFile(const std::string& path) {
  std::string native;
  PathMap::Look look;
  if (!paths_.ToNative(path, native, &look)) return false;
  struct stat st = look.st;
  if (look.looked ? !look.exists : lstat(native.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return false;
  if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) return false;  // read-only
  return unlink(native.c_str()) == 0;
}

bool PosixFileSystem::RemoveDirectory(const std::string& path) {
  std::string native;
  if (!paths_.ToNative(path, native)) return false;
  struct stat st;
  if (lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return unlink(native.c_str()) == 0;
  return rmdir(native.c_str()) == 0;
}

bool PosixFileSystem::CreateDirectory(const std::string& path) {
  std::string native;
  if (!paths_.ToNative(path, native)) return false;
  return mkdir(native.c_str(), 0777) == 0;
}

bool PosixFileSystem::ReplaceFile(const std::string& from, const std::string& to) {
  std::string a, b;
  PathMap::Look look;
  if (!paths_.ToNative(from, a) || !paths_.ToNative(to, b, &look)) return false;
  struct stat st = look.st;
  const bool existed = look.looked ? look.exists : lstat(b.c_str(), &st) == 0;
  if (existed && (!S_ISLNK(st.st_mode) || stat(b.c_str(), &st) == 0)) {
    // As on Windows: a read-only file or a folder is not replaced, even by
    // root.
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
      errno = EACCES;
      return false;
    }
    chmod(a.c_str(), st.st_mode & 07777);  // keeps its permissions
  }
  if (rename(a.c_str(), b.c_str()) != 0) return false;
  if (!existed) NoteCreatedFile(paths_, b);
  return true;
}

bool PosixFileSystem::SyncName(const std::string& path) {
  std::string native;
  if (!paths_.ToNative(path, native)) return false;
  const int fd = open(FolderOf(native).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // A file system that cannot sync a folder (EINVAL) keeps its names by
  // other means.
  const bool ok = fsync(fd) == 0 || errno == EINVAL;
  close(fd);
  return ok;
}

// The number of names that `path` adds to `folder` as written, when it is
// `folder`, a separator and plain names (no "." or ".."); 0 otherwise.
size_t NamesBelow(const std::string& folder, const std::string& path) {
  std::string prefix = folder;
  while (!prefix.empty() && IsSeparator(prefix.back())) prefix.pop_back();
  // "C:" alone is the drive's working folder, not its root.
  if (prefix.empty() || (prefix.back() == ':' && prefix.size() == folder.size())) return 0;
  if (path.size() <= prefix.size() + 1 || !IsSeparator(path[prefix.size()]) ||
      path.compare(0, prefix.size(), prefix) != 0)
    return 0;
  size_t names = 0;
  for (size_t at = prefix.size() + 1; at < path.size();) {
    size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string name = path.substr(at, end - at);
    if (name == "." || name == "..") return 0;
    if (!name.empty()) ++names;
    at = end + 1;
  }
  return names;
}

bool PosixFileSystem::IsWithin(const std::string& folder, const std::string& path) {
  std::string f, p, real_folder, real_path;
  // A path written as the folder and names below it maps onto the folder's
  // own mapping followed by those names: the folder needs no mapping of
  // its own.
  if (const size_t names = NamesBelow(folder, path); names > 0 && paths_.ToNative(path, p)) {
    size_t cut = p.size();
    for (size_t i = 0; i < names && cut != std::string::npos; ++i) cut = p.rfind('/', cut - 1);
    if (cut != std::string::npos && cut > 0 && PlainlyBelow(p.substr(0, cut), p)) return true;
  }
  if (!paths_.ToNative(folder, f) || !paths_.ToNative(path, p)) return false;
  if (PlainlyBelow(f, p)) return true;
  if (!Resolved(f, real_folder) || !Resolved(p, real_path)) return false;
  if (real_folder != "/") real_folder += '/';
  return real_path.size() > real_folder.size() && real_path.compare(0, real_folder.size(), real_folder) == 0;
}

bool PosixFileSystem::SameFile(const std::string& a, const std::string& b) {
  std::string x, y;
  if (!paths_.ToNative(a, x) || !paths_.ToNative(b, y)) return false;
  struct stat sx, sy;
  if (stat(x.c_str(), &sx) != 0 || stat(y.c_str(), &sy) != 0) return false;
  return sx.st_dev == sy.st_dev && sx.st_ino == sy.st_ino;
}

std::string PosixFileSystem::TempFolder() {
  mkdir(temp_.c_str(), 0777);
  std::string windows = PathMap::ToWindows(temp_);
  if (windows.back() != '\\') windows += '\\';
  return windows;
}

bool PosixFileSystem::CreateTempFile(const std::string& folder, const std::string& prefix,
                                     std::string& path) {
  std::string base = folder;
  if (!base.empty() && !IsSeparator(base.back())) base += '\\';
  const std::string p = prefix.substr(0, 3);
  unsigned seed = static_cast<unsigned>(getpid()) * 2654435761u;
  for (unsigned i = 0; i < 0x10000; ++i) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", (seed + i) & 0xFFFF);
    const std::string candidate = base + p + hex + ".tmp";
    std::string native;
    if (!paths_.ToNative(candidate, native)) return false;
    const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      NoteCreatedFile(paths_, native);
      path = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace kvx
