// The index file "\quarle.idx" and the discovery of the data and system
// roots, over a volume whose folders the input names. Properties: a root
// found exists, lies inside the volume, fits the callers' buffers and is
// the flash root with a line of the index file after it; a root not found
// leaves the flash root; without a usable line the fallback folder is
// taken when it exists; discovery changes nothing on the volume.
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "core/utf.h"
#include "flash/root_path.h"
#include "fuzz/fuzz_support.h"

namespace kvx::fuzz {
namespace {

// A relative folder name the fixture can make on the volume.
bool Makeable(const std::string& name) {
  if (name.empty() || name.size() > 100 || name.find('\0') != std::string::npos) return false;
  const std::filesystem::path path(name);
  if (path.is_absolute()) return false;
  for (const auto& part : path)
    if (part == ".." || part == ".") return false;
  return true;
}

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    names.insert(it->path().string());
  return names;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

void CheckRoot(FuzzVolume& volume, bool found, const std::string& root, const char* fallback) {
  ToolContext& ctx = volume.ctx();
  if (!found) {
    Require(root == "~:", "a root not found is the flash root");
    Require(ctx.files.GetAttributes(std::string("~:") + fallback) == kInvalidAttributes,
            "the fallback folder is taken when it exists");
    return;
  }
  Require(root.compare(0, 2, "~:") == 0, "a root found is on the flash volume's drive");
  Require(Utf16Length(root) <= kMaxRootLength, "a root found fits the callers' buffers");
  Require(ctx.files.GetAttributes(root) != kInvalidAttributes, "a root found exists");
  std::string native;
  Require(volume.paths().ToNative(root, native), "a root found names a place");
  const std::string real = RealPath(native), top = RealPath(volume.Vol(""));
  Require(!real.empty() && real.compare(0, top.size(), top) == 0 &&
              (real.size() == top.size() || real[top.size()] == '/'),
          "a root found lies inside the volume");
}

}  // namespace

void CheckInput(const uint8_t* data, size_t size) {
  FuzzVolume& volume = FuzzVolume::Shared();
  volume.Reset();
  InputReader in(data, size);
  const uint8_t flags = in.Byte();
  const std::string first = in.Short(), second = in.Short();
  const std::string index = in.Rest();
  if (flags & 1) testing::MakeDirs(volume.Vol("QUARLE.000"));
  if (flags & 2) testing::MakeDirs(volume.Vol("QUARLE.SYS"));
  if (Makeable(first)) testing::MakeDirs(volume.Vol(first));
  if (Makeable(second)) testing::MakeDirs(volume.Vol(second));
  if ((flags & 4) == 0) volume.Put("quarle.idx", index);
  const std::set<std::string> before = Listing(volume.Vol(""));

  std::string data_root = "unset", sys_root = "unset";
  const bool data_found = GetRootPathFromDataPath(volume.ctx(), data_root);
  const bool sys_found = GetRootPathFromSysPath(volume.ctx(), sys_root);
  CheckRoot(volume, data_found, data_root, "\\QUARLE.000");
  CheckRoot(volume, sys_found, sys_root, "\\QUARLE.SYS");
  Require(Listing(volume.Vol("")) == before, "discovery changes nothing on the volume");

  std::string again;
  Require(GetRootPathFromDataPath(volume.ctx(), again) == data_found && again == data_root,
          "discovery on an unchanged volume finds the same root");
}

}  // namespace kvx::fuzz
