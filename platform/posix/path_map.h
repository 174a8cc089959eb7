#pragma once
// Windows path strings mapped onto the POSIX file system, the way a Wine
// prefix maps them: a drive letter (and the drive "~") resolves through the
// symbolic links "dosdevices/<letter>:" of the machine folder; "Z:" is "/";
// a rooted path without a drive is on "Z:"; a relative path is relative to
// the working folder; both "\" and "/" separate; a name that is not found
// exactly is looked up without regard to case.
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <unordered_map>

namespace kvx {

class PathMap {
 public:
  explicit PathMap(std::string machine_folder);

  // What the mapping saw of the mapped path itself, when it looked: its
  // lstat, or that nothing of that name (in any case) is there.
  struct Look {
    bool looked = false;
    bool exists = false;
    struct stat st {};
  };

  // The POSIX path for `windows_path`. False, with `native` empty, when the
  // path names no place on this machine: an undefined drive, a device
  // ("\\.\NAME"), a network path, or an empty text. `look`, when given,
  // gets what was seen of the path on the way, which spares the caller a
  // look of its own.
  bool ToNative(std::string_view windows_path, std::string& native, Look* look = nullptr) const;

  // The Windows form of an absolute POSIX path: "Z:" and "\" separators.
  static std::string ToWindows(std::string_view native_absolute);

  // Tells the map that this process created `name` in the native `folder`,
  // so that its index of the folder stays current without a new scan.
  void NoteCreated(const std::string& folder, const std::string& name) const;

 private:
  // The link that names the drive `letter` ("dosdevices/c:").
  std::string DriveLink(char letter) const;
  // The entry of `folder` equal to `name` without regard to case.
  bool FindIgnoringCase(const std::string& folder, const std::string& name,
                        std::string& found) const;

  std::string machine_folder_;
  // An index of the last folder searched without regard to case: folded
  // name to name, valid while the folder's inode and modification time are
  // unchanged. It keeps a copy into a folder of many files from scanning
  // the folder once per file.
  struct FolderIndex {
    std::string folder;
    unsigned long long inode = 0;
    long long mtime_sec = -1, mtime_nsec = 0;
    std::unordered_map<std::string, std::string> names;
  };
  mutable FolderIndex index_;
};

// Whether two file names are equal without regard to case, as the Windows
// volumes compare them (Latin, Greek and Cyrillic letters fold).
bool FileNamesEqualIgnoringCase(std::string_view a, std::string_view b);

}  // namespace kvx
