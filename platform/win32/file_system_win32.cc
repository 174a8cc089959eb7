#include "platform/win32/file_system_win32.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

#include <cstring>
#include <string>

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

namespace {

class CrtFile : public File {
 public:
  explicit CrtFile(FILE* f) : f_(f) {}
  ~CrtFile() override { fclose(f_); }
  bool Write(const void* data, size_t size) override { return fwrite(data, 1, size, f_) == size; }
  bool Flush() override { return fflush(f_) == 0; }
  bool Sync() override {
    if (fflush(f_) != 0) return false;
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f_)));
    return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
  }
  size_t Read(void* data, size_t size) override { return fread(data, 1, size, f_); }
  bool Error() override { return ferror(f_) != 0; }
  bool Size(uint64_t& size) override {
    LARGE_INTEGER n;
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f_)));
    if (h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &n)) return false;
    size = static_cast<uint64_t>(n.QuadPart);
    return true;
  }

 private:
  FILE* f_;
};

int64_t FileTimeValue(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

int SystemErrorFromErrno(int e) {
  switch (e) {
    case ENOENT:
      return kErrorFileNotFound;
    case EACCES:
      return kErrorAccessDenied;
    default:
      return ERROR_GEN_FAILURE;
  }
}

bool WritesTo(const char* mode) {
  for (const char* p = mode; *p; ++p)
    if (*p == 'w' || *p == 'a' || *p == '+') return true;
  return false;
}

// A stream that only appends ("a", "ab", "at"): the handle has
// FILE_APPEND_DATA and no FILE_WRITE_DATA, so the system puts every write
// at the file's end in one step, also for other processes and other PCs
// writing the same file on a share. What is written is held until the
// flush and then written with one call, its line feeds made CR LF in text
// mode, where the run-time's own append seeks, then writes, and in text
// mode cuts a long line into several writes, so two writers could overlap.
class AppendFile : public File {
 public:
  AppendFile(HANDLE h, bool text) : h_(h), text_(text) {}
  ~AppendFile() override {
    Flush();
    CloseHandle(h_);
  }
  bool Write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    for (size_t i = 0; i < size; ++i) {
      if (text_ && p[i] == '\n') pending_ += '\r';
      pending_ += p[i];
    }
    return true;
  }
  bool Flush() override {
    if (pending_.empty()) return true;
    DWORD written = 0;
    const bool ok = WriteFile(h_, pending_.data(), static_cast<DWORD>(pending_.size()), &written,
                              nullptr) &&
                    written == pending_.size();
    pending_.clear();
    return ok;
  }
  bool Sync() override { return Flush() && FlushFileBuffers(h_) != 0; }
  size_t Read(void*, size_t) override { return 0; }
  bool Error() override { return false; }
  bool Size(uint64_t& size) override {
    LARGE_INTEGER n;
    if (!GetFileSizeEx(h_, &n)) return false;
    size = static_cast<uint64_t>(n.QuadPart) + pending_.size();
    return true;
  }

 private:
  HANDLE h_;
  bool text_;
  std::string pending_;
};

}  // namespace

bool IsReadOnlyFile(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) &&
         !(a & FILE_ATTRIBUTE_DIRECTORY);
}

int Win32FileSystem::Access(const std::string& path, int mode) {
  return _waccess(Wide(path).c_str(), mode) == 0 ? 0 : errno;
}

std::unique_ptr<File> Win32FileSystem::Open(const std::string& path, const char* mode, int* error) {
  const std::wstring wide = Wide(path);
  // Windows refuses to write a read-only file; a process that the host
  // lets write anything (Wine run as root) refuses it here all the same.
  if (WritesTo(mode) && IsReadOnlyFile(wide)) {
    SetLastError(ERROR_ACCESS_DENIED);
    if (error) *error = kErrorAccessDenied;
    return nullptr;
  }
  if (mode[0] == 'a' && std::strchr(mode, '+') == nullptr) {
    const HANDLE h = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (error) *error = static_cast<int>(GetLastError());
      return nullptr;
    }
    return std::make_unique<AppendFile>(h, std::strchr(mode, 'b') == nullptr);
  }
  SetLastError(ERROR_SUCCESS);
  FILE* f = _wfopen(wide.c_str(), Wide(mode).c_str());
  if (f == nullptr) {
    // The run-time leaves the system's error of the failed open in place;
    // a refusal of its own (a bad mode) has only errno.
    const DWORD system = GetLastError();
    if (error)
      *error = system != ERROR_SUCCESS ? static_cast<int>(system) : SystemErrorFromErrno(errno);
    return nullptr;
  }
  // Only a file on a disk is read or written: a name that reaches a device
  // (CON, a pipe) is refused.
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) {
    fclose(f);
    if (debug_ != nullptr) debug_->Write("Open: passed over " + path + ": not a disk file");
    SetLastError(ERROR_ACCESS_DENIED);
    if (error) *error = kErrorAccessDenied;
    return nullptr;
  }
  return std::make_unique<CrtFile>(f);
}

std::unique_ptr<File> Win32FileSystem::CreateNew(const std::string& path, int* error) {
  const std::wstring wide = Wide(path);
  const DWORD a = GetFileAttributesW(wide.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) {
    const bool link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((!link && (a & FILE_ATTRIBUTE_DIRECTORY)) ||
        (!(a & FILE_ATTRIBUTE_DIRECTORY) && (a & FILE_ATTRIBUTE_READONLY))) {
      SetLastError(ERROR_ACCESS_DENIED);
      if (error) *error = kErrorAccessDenied;
      return nullptr;
    }
    // A leftover or a link, removed itself: a link's target is not touched.
    const BOOL removed = (a & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(wide.c_str())
                                                        : DeleteFileW(wide.c_str());
    if (!removed && GetLastError() != ERROR_FILE_NOT_FOUND) {
      if (error) *error = static_cast<int>(GetLastError());
      return nullptr;
    }
  }
  // CREATE_NEW fails on any name that exists, a link to nothing included.
  const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = static_cast<int>(GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    DeleteFileW(wide.c_str());
    if (error) *error = ERROR_GEN_FAILURE;
    return nullptr;
  }
  FILE* f = _fdopen(fd, "wb");
  if (f == nullptr) {
    _close(fd);
    DeleteFileW(wide.c_str());
    if (error) *error = ERROR_GEN_FAILURE;
    return nullptr;
  }
  return std::make_unique<CrtFile>(f);
}

bool Win32FileSystem::FindFiles(const std::string& pattern, std::vector<FindEntry>& out) {
  out.clear();
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW(Wide(pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    FindEntry e;
    e.name = Narrow(data.cFileName);
    if (e.name != "." && e.name != ".." && !IsWindowsFileName(e.name)) {
      // A device name ("nul.txt") opens the device, not the file.
      if (debug_ != nullptr)
        debug_->Write("FindFiles: skipped a name that Windows cannot hold: " + pattern + " " + e.name);
      continue;
    }
    e.attributes = data.dwFileAttributes;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      e.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    e.last_write = FileTimeValue(data.ftLastWriteTime);
    out.push_back(std::move(e));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

uint32_t Win32FileSystem::GetAttributes(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str());
}

bool Win32FileSystem::SetAttributes(const std::string& path, uint32_t attributes) {
  return SetFileAttributesW(Wide(path).c_str(), attributes) != 0;
}

bool Win32FileSystem::GetLastWriteTime(const std::string& path, int64_t& time) {
  const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME written;
  const bool ok = GetFileTime(h, nullptr, nullptr, &written) != 0;
  CloseHandle(h);
  if (ok) time = FileTimeValue(written);
  return ok;
}

bool Win32FileSystem::DeleteFile(const std::string& path) {
  // A link is removed itself; what it points at is left alone.
  return DeleteFileW(Wide(path).c_str()) != 0;
}

bool Win32FileSystem::RemoveDirectory(const std::string& path) {
  return RemoveDirectoryW(Wide(path).c_str()) != 0;
}

bool Win32FileSystem::CreateDirectory(const std::string& path) {
  return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

bool Win32FileSystem::ReplaceFile(const std::string& from, const std::string& to) {
  const std::wstring source = Wide(from), target = Wide(to);
  DWORD existing = GetFileAttributesW(target.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT) &&
      !(existing & FILE_ATTRIBUTE_DIRECTORY)) {
    // A link in the way is replaced, never written through: it goes first.
    if (!DeleteFileW(target.c_str())) return false;
    existing = INVALID_FILE_ATTRIBUTES;
  }
  if (existing == INVALID_FILE_ATTRIBUTES) {
    return MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  // Windows will not replace a read-only file or a folder; the check is
  // made here so that every system refuses alike.
  if (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // One rename over the old file: what ReplaceFileW would add (its
  // security and streams) the volume's files do not have, and under Wine it
  // costs twice the rename. The replaced file's attributes stay with the
  // name: set again when the new file's differ.
  constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD fresh = GetFileAttributesW(source.c_str());
  if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return false;
  if (fresh == INVALID_FILE_ATTRIBUTES || (fresh & kSettable) != (existing & kSettable))
    SetFileAttributesW(target.c_str(), existing & kSettable ? existing & kSettable : FILE_ATTRIBUTE_NORMAL);
  return true;
}

bool Win32FileSystem::SyncName(const std::string& path) {
  // The file's own record holds its name: flushing the file commits it.
  const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = FlushFileBuffers(h) != 0;
  CloseHandle(h);
  return ok;
}

std::string Win32FileSystem::TempFolder() {
  wchar_t buf[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return std::string();
  return Narrow(std::wstring_view(buf, n));
}

bool Win32FileSystem::CreateTempFile(const std::string& folder, const std::string& prefix,
                                     std::string& path) {
  wchar_t buf[MAX_PATH];
  if (GetTempFileNameW(Wide(folder).c_str(), Wide(prefix).c_str(), 0, buf) == 0) return false;
  path = Narrow(buf);
  return true;
}

namespace {

// Opened for no access at all, so that a file open elsewhere or a read-only
// one answers too; backup semantics let a folder be opened.
HANDLE OpenToName(const std::wstring& path) {
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The volume and file index of what `path` names. A link is followed: the
// question is what the name reaches.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE h = OpenToName(Wide(path));
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  return ok;
}

// The final path of what `path` names, every link followed. Names that do
// not exist yet are joined unchanged to the final path of their nearest
// existing folder; "." or ".." among them cannot be resolved.
bool FinalPath(const std::wstring& path, std::wstring& out) {
  std::wstring existing = path;
  std::wstring rest;
  HANDLE h;
  while ((h = OpenToName(existing)) == INVALID_HANDLE_VALUE) {
    const size_t cut = existing.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut + 1 >= existing.size()) return false;
    const std::wstring name = existing.substr(cut + 1);
    if (name == L"." || name == L"..") return false;
    rest = L"\\" + name + rest;
    // "C:\x" is held by "C:\", the drive's root.
    existing = existing.substr(0, cut == 2 && existing[1] == L':' ? cut + 1 : cut);
  }
  wchar_t buf[32768];
  const DWORD n = GetFinalPathNameByHandleW(h, buf, sizeof buf / sizeof buf[0], FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= sizeof buf / sizeof buf[0]) return false;
  out.assign(buf, n);
  if (!rest.empty() && out.back() == L'\\') out.pop_back();
  out += rest;
  return true;
}

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

// Whether `path` is `folder` followed by names that are no links, as far as
// they exist, and it ends in a folder or a name not made yet: then it lies
// below the folder wherever the folder leads, with one look at each name.
// False says only that this cannot tell (another folder as written, a name
// Windows would rewrite, a link, or a file at the end: a system may follow
// a link to a file without calling it one), and the caller follows every
// link.
bool PlainlyBelow(const std::wstring& folder, const std::wstring& path) {
  std::wstring prefix = folder;
  while (!prefix.empty() && IsSlash(prefix.back())) prefix.pop_back();
  // "C:" alone is the drive's working folder, not its root.
  if (prefix.empty() || prefix.compare(0, 4, L"\\\\?\\") == 0 ||
      (prefix.back() == L':' && prefix.size() == folder.size()))
    return false;
  prefix += L'\\';
  if (path.size() <= prefix.size() || _wcsnicmp(path.c_str(), prefix.c_str(), prefix.size() - 1) != 0 ||
      !IsSlash(path[prefix.size() - 1]))
    return false;
  for (size_t at = prefix.size(); at < path.size();) {
    size_t end = at;
    while (end < path.size() && !IsSlash(path[end])) ++end;
    const std::wstring name = path.substr(at, end - at);
    // Names that Windows reads otherwise than they are written.
    if (name.empty() || name.back() == L'.' || name.back() == L' ' ||
        name.find(L':') != std::wstring::npos || !IsWindowsFileName(Narrow(name)))
      return false;
    const DWORD attributes = GetFileAttributesW(path.substr(0, end).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      // What follows is not made yet: only its names count.
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return false;
    at = end + 1;
  }
  return true;
}

}  // namespace

bool Win32FileSystem::IsWithin(const std::string& folder, const std::string& path) {
  const std::wstring wide_folder = Wide(folder), wide_path = Wide(path);
  if (PlainlyBelow(wide_folder, wide_path)) return true;
  std::wstring f, p;
  if (!FinalPath(wide_folder, f) || !FinalPath(wide_path, p)) return false;
  if (f.back() != L'\\') f += L'\\';
  return p.size() > f.size() && _wcsnicmp(p.c_str(), f.c_str(), f.size()) == 0;
}

bool Win32FileSystem::SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  if (!FileIdentity(a, first) || !FileIdentity(b, second)) return false;
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace kvx
