#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kvx {

// File attribute bits, as Windows numbers them.
inline constexpr uint32_t kAttrReadOnly = 0x1;
inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrSystem = 0x4;
inline constexpr uint32_t kAttrDirectory = 0x10;
// Neither a file nor a folder: a pipe, a device node, a socket. Never read,
// copied or edited.
inline constexpr uint32_t kAttrDevice = 0x40;
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kAttrReparsePoint = 0x400;  // a symbolic link or junction
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// Error numbers of the system's "last error" that callers look at.
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorDiskFull = 112;
inline constexpr int kErrorGenFailure = 31;

// An open run-time stream on a file.
class File {
 public:
  virtual ~File() = default;
  // Writes all bytes; false on a short or failed write.
  virtual bool Write(const void* data, size_t size) = 0;
  // Pushes buffered bytes to the file; false on failure.
  virtual bool Flush() = 0;
  // Pushes buffered bytes to the file and the file's data to the device
  // (fsync, FlushFileBuffers), so that a power loss after a rename cannot
  // leave the new name without its content; false on failure.
  virtual bool Sync() = 0;
  // Reads up to `size` bytes; 0 at the end of the file or on an error.
  virtual size_t Read(void* data, size_t size) = 0;
  // Whether a read has failed (not merely reached the end).
  virtual bool Error() = 0;
  // The file's size in bytes; false when it cannot be had.
  virtual bool Size(uint64_t& size) = 0;
};

// One entry of a folder enumeration.
struct FindEntry {
  std::string name;
  uint32_t attributes = 0;
  uint64_t size = 0;
  int64_t last_write = 0;  // 100 ns units since 1601, as Windows counts
};

// Files and folders, addressed by Windows path strings (drive letters, "\"
// or "/" separators, relative paths against the working folder).
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The run-time access check: 0 when a file or folder at `path` allows
  // `mode` (0 existence, 2 write, 4 read, 6 read and write), otherwise the
  // run-time error number (ENOENT, EACCES, ...).
  virtual int Access(const std::string& path, int mode) = 0;
  // Opens a stream like the run-time's fopen with `mode` ("r", "w+", "rb",
  // "wb", ...). Null on failure, with `error` set to the system's error
  // (kErrorFileNotFound, kErrorAccessDenied, ...). Only a regular file is
  // opened: a pipe or device by that name is refused (kErrorAccessDenied)
  // without waiting for it, and named in the debugger output.
  virtual std::unique_ptr<File> Open(const std::string& path, const char* mode, int* error) = 0;
  // Creates `path` as a new, empty file open for writing ("wb"): whatever
  // else holds the name (a leftover file, a link, a pipe) is removed first,
  // never followed, and the file is then created exclusively, so no write
  // can land in a file that existed before. A folder or a read-only file by
  // that name is left and refused (kErrorAccessDenied). Every file the tool
  // writes is created through here.
  virtual std::unique_ptr<File> CreateNew(const std::string& path, int* error) = 0;
  // The entries matching `pattern` ("folder\*" or "folder\*.*": all
  // entries, "." and ".." included below a drive's root). False when
  // nothing can be enumerated (the folder is missing).
  virtual bool FindFiles(const std::string& pattern, std::vector<FindEntry>& out) = 0;
  // kInvalidAttributes when nothing is at `path`.
  virtual uint32_t GetAttributes(const std::string& path) = 0;
  // kAttrNormal clears read-only, hidden and system.
  virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;
  // The last-write time of the file opened for shared reading.
  virtual bool GetLastWriteTime(const std::string& path, int64_t& time) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  // Removes an empty folder.
  virtual bool RemoveDirectory(const std::string& path) = 0;
  // Creates one folder; its parent must exist.
  virtual bool CreateDirectory(const std::string& path) = 0;
  // Replaces `to` by `from` in one step: afterwards `to` holds either its
  // old content or all of `from`'s. A link at `to` is replaced, never
  // written through.
  virtual bool ReplaceFile(const std::string& from, const std::string& to) = 0;
  // Makes the name `path` as it now stands (a rename or creation) reach the
  // device: the folder that holds it is synced (on Windows the file itself
  // is flushed, whose record holds its name). False when it could not be.
  virtual bool SyncName(const std::string& path) = 0;
  // The temp folder, ending in "\".
  virtual std::string TempFolder() = 0;
  // Creates a new empty file "<prefix><hex>.tmp" in `folder` and names it.
  virtual bool CreateTempFile(const std::string& folder, const std::string& prefix,
                              std::string& path) = 0;
  // Whether `a` and `b` name one existing file or folder, whatever the
  // spelling (case, separators, "." and ".." segments, links): the same
  // volume and file index. False when either cannot be reached.
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;
  // Whether `path` lies below `folder` once every link on the way to either
  // is followed: false when a link leads out of `folder` (or back to it).
  // Names that do not exist yet, or are links to nothing, count by the
  // nearest existing folder that would hold them.
  virtual bool IsWithin(const std::string& folder, const std::string& path) = 0;
};

// Whether a Windows volume could hold a file of this name and open it as a
// file: not "." or "..", nothing of the separators "\" and "/", no ":", no
// wildcard or quoting character (* ? " < > |), no control character, and
// not a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, in
// any letter case, alone or before an extension: "nul.txt" opens the
// device). Any other name, once joined to a folder's path, could step out
// of that folder or reach a device.
bool IsWindowsFileName(const std::string& name);

}  // namespace kvx
