#include "core/whole_file.h"

#include <memory>
#include <vector>

#include "core/text.h"

namespace kvx {

namespace {

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

}  // namespace

bool IsPartialFile(const std::string& name) {
  const std::string suffix = kPartialSuffix;
  return name.size() > suffix.size() &&
         EqualsIgnoringCase(std::string_view(name).substr(name.size() - suffix.size()), suffix);
}

void RemovePartialFiles(FileSystem& files, const std::string& folder) {
  std::vector<FindEntry> entries;
  const std::string base = WithSlash(folder);
  if (!files.FindFiles(base + "*" + kPartialSuffix, entries)) return;
  for (const FindEntry& e : entries)
    if (IsPartialFile(e.name) && !(e.attributes & kAttrDirectory)) files.DeleteFile(base + e.name);
}

void RemovePartialFilesBeside(FileSystem& files, const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos) RemovePartialFiles(files, path.substr(0, slash + 1));
}

bool WriteWholeFile(FileSystem& files, const std::string& destination,
                    const std::function<bool(File&)>& fill, int* error,
                    const std::function<bool(const std::string&)>& check,
                    Durability durability) {
  const bool device = durability == Durability::kDevice;
  int err = 0;
  const std::string beside = destination + kPartialSuffix;
  std::unique_ptr<File> out = files.CreateNew(beside, &err);
  if (!out) {
    if (error) *error = err;
    return false;
  }
  const bool written = fill(*out) && (device ? out->Sync() : out->Flush());
  out.reset();
  if (!written) {
    files.DeleteFile(beside);
    if (error) *error = kErrorDiskFull;
    return false;
  }
  if ((check && !check(beside)) || !files.ReplaceFile(beside, destination)) {
    files.DeleteFile(beside);
    if (error) *error = kErrorAccessDenied;
    return false;
  }
  // The new content is in place; a name that may not have reached the
  // device is still a failure.
  if (device && !files.SyncName(destination)) {
    if (error) *error = kErrorGenFailure;
    return false;
  }
  return true;
}

bool CopyChunks(File& in, File& out, const std::function<void(size_t, bool)>& chunk) {
  // Not cleared: a read fills what the write then takes, so a small file
  // touches only the pages it needs.
  std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
  for (;;) {
    const size_t n = in.Read(buffer.get(), kCopyChunk);
    if (n == 0) return !in.Error();
    const bool written = out.Write(buffer.get(), n);
    chunk(n, written);
    if (!written) return false;
  }
}

}  // namespace kvx
