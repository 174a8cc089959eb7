#pragma once
// Files written whole or not at all. Every file the tool writes, on the
// flash volume or on the PC, is first written beside its final name
// ("<name>.kvxtmp") and then renamed over it, so a crash, a full volume or
// a pulled module leaves either the old file or all of the new one. Such a
// file beside its name, left by an interrupted run, is never data: the
// copies skip it and the next write into its folder removes it.
#include <cstddef>
#include <functional>
#include <string>

#include "platform/file_system.h"

namespace kvx {

inline constexpr const char* kPartialSuffix = ".kvxtmp";
inline constexpr size_t kCopyChunk = 1u << 20;

// Whether `name` is a file written beside its final name and not yet
// renamed (it ends in ".kvxtmp", in any case).
bool IsPartialFile(const std::string& name);

// Removes, from `folder`, every file that an interrupted run left beside
// its final name. Links are removed, never followed; read-only files stay.
void RemovePartialFiles(FileSystem& files, const std::string& folder);
// The same for the folder that holds `path`: what a step calls before it
// writes `path`, so that every kind of leftover goes with the next run that
// works in its folder, not only one of the name it writes.
void RemovePartialFilesBeside(FileSystem& files, const std::string& path);

// How far a file written whole gets before the write returns.
enum class Durability {
  // The content reaches the device before the rename, and the rename
  // before the return: what stays on the flash volume, which is unmounted
  // and powered off right after the run.
  kDevice,
  // Handed to the system, which writes it back by its own policy: working
  // copies that the run removes again, and the copies into a PC folder, as
  // Windows' own copy tools leave them (a rename still never shows half a
  // file to a reader or after a kill).
  kSystem,
};

// Writes `destination` whole: `fill` writes the new content into a file
// created new beside it (whatever held that name is removed first, a link
// never followed), with kDevice the content reaches the device, `check`,
// when given, accepts the file beside it by its path, and it then replaces
// the destination (a link there is replaced, not written through), the new
// name reaching the device too. When `fill`, the flush or `check` fails, or
// the replacement is refused (a destination that is read-only or a folder:
// kErrorAccessDenied), the destination keeps its old content, the file
// beside it is removed, and `error` says why (kErrorDiskFull when the
// content could not be written). A new name that could not be made to reach
// the device leaves the new content in place and is a failure too
// (kErrorGenFailure).
bool WriteWholeFile(FileSystem& files, const std::string& destination,
                    const std::function<bool(File&)>& fill, int* error = nullptr,
                    const std::function<bool(const std::string&)>& check = nullptr,
                    Durability durability = Durability::kDevice);

// Copies what remains of `in` to `out` in chunks of kCopyChunk bytes,
// telling `chunk` the size of each chunk read and whether it was written.
// True when everything was read and written.
bool CopyChunks(File& in, File& out, const std::function<void(size_t, bool)>& chunk);

}  // namespace kvx
