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

// Writes `destination` whole: `fill` writes the new content into a fresh
// file beside it, which then replaces it. When `fill` or the flush fails,
// or the replacement is refused (a destination that is read-only or a
// folder: kErrorAccessDenied), the destination keeps its old content, the
// file beside it is removed, and `error` says why (kErrorDiskFull when the
// content could not be written).
bool WriteWholeFile(FileSystem& files, const std::string& destination,
                    const std::function<bool(File&)>& fill, int* error = nullptr);

// Copies what remains of `in` to `out` in chunks of kCopyChunk bytes,
// telling `chunk` the size of each chunk read and whether it was written.
// True when everything was read and written.
bool CopyChunks(File& in, File& out, const std::function<void(size_t, bool)>& chunk);

}  // namespace kvx
