#include "platform/posix/path_map.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <vector>

#include "core/utf.h"

namespace kvx {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char32_t FoldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs upper/lower as even/odd, except in two runs.
    const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_upper) return (c & 1) ? c + 1 : c;
    return (c & 1) ? c : c + 1;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string Folded(std::string_view name) {
  std::string out;
  size_t i = 0;
  while (i < name.size()) AppendUtf8(out, FoldCase(DecodeUtf8(name, i)));
  return out;
}

}  // namespace

bool FileNamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  return Folded(a) == Folded(b);
}

bool PathMap::FindIgnoringCase(const std::string& folder, const std::string& name,
                               std::string& found) const {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return false;
  FolderIndex& x = index_;
  const auto scan = [&]() {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    x = FolderIndex{folder, static_cast<unsigned long long>(st.st_ino), st.st_mtim.tv_sec,
                    st.st_mtim.tv_nsec, {}};
    while (dirent* e = readdir(dir)) {
      const std::string entry = e->d_name;
      if (entry == "." || entry == "..") continue;
      // Of several names alike but for case, the smallest, so the choice is stable.
      auto [it, added] = x.names.emplace(Folded(entry), entry);
      if (!added && entry < it->second) it->second = entry;
    }
    closedir(dir);
    return true;
  };
  bool fresh = false;
  if (x.folder != folder || x.inode != st.st_ino || x.mtime_sec != st.st_mtim.tv_sec ||
      x.mtime_nsec != st.st_mtim.tv_nsec) {
    if (!scan()) return false;
    fresh = true;
  }
  auto it = x.names.find(Folded(name));
  // A folder changed within one tick of its clock keeps its time: a name
  // the index still holds may be gone. It is looked at before it is
  // answered, and a name gone means a new scan.
  if (it != x.names.end() && !fresh && !Exists(folder + "/" + it->second)) {
    if (!scan()) return false;
    it = x.names.find(Folded(name));
  }
  if (it == x.names.end()) return false;
  found = it->second;
  return true;
}

void PathMap::NoteCreated(const std::string& folder, const std::string& name) const {
  if (index_.folder != folder) return;
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return;
  index_.names.emplace(Folded(name), name);
  index_.mtime_sec = st.st_mtim.tv_sec;
  index_.mtime_nsec = st.st_mtim.tv_nsec;
}

PathMap::PathMap(std::string machine_folder) : machine_folder_(std::move(machine_folder)) {}

std::string PathMap::DriveLink(char letter) const {
  std::string link = machine_folder_ + "/dosdevices/";
  link += static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  link += ':';
  return link;
}

bool PathMap::ToNative(std::string_view path, std::string& native, Look* look) const {
  native.clear();
  if (look != nullptr) *look = Look();
  if (path.empty()) return false;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return false;

  std::string base;
  std::string_view rest = path;
  if (path.size() >= 2 && path[1] == ':') {
    const char letter = path[0];
    if (letter == 'z' || letter == 'Z') {
      base = "/";
    } else if (std::isalpha(static_cast<unsigned char>(letter)) || letter == '~') {
      char target[4096];
      const std::string link = DriveLink(letter);
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n <= 0) return false;
      base.assign(target, static_cast<size_t>(n));
      if (base[0] != '/') base = machine_folder_ + "/dosdevices/" + base;
    } else {
      return false;
    }
    rest = path.substr(2);  // a drive-relative path counts from the drive's root
  } else if (IsSeparator(path[0])) {
    base = "/";
  } else {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    base = cwd;
  }

  // Split into components; "." goes, ".." takes one back, never above the base.
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string_view part = rest.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    start = end + 1;
  }

  // A path that exists as written is the answer, and every folder on its
  // way exists as written too: one look instead of one per component.
  native = base;
  for (const std::string& part : parts) {
    if (native.back() != '/') native += '/';
    native += part;
  }
  if (parts.empty()) return true;
  struct stat st;
  if (lstat(native.c_str(), &st) == 0) {
    if (look != nullptr) *look = Look{true, true, st};
    return true;
  }

  // A folder that exists as written leaves only the last name to look up.
  if (parts.size() > 1) {
    const size_t cut = native.size() - parts.back().size() - 1;
    const std::string folder = native.substr(0, cut == 0 ? 1 : cut);
    if (Exists(folder)) {
      std::string found;
      if (FindIgnoringCase(folder, parts.back(), found)) {
        native = native.substr(0, cut + 1) + found;
      } else if (look != nullptr) {
        look->looked = true;  // no such name, in any case
      }
      return true;
    }
  }

  native = base;
  bool searching = true;  // once a component is missing, the rest is taken as written
  for (const std::string& part : parts) {
    const std::string folder = native;
    if (native.back() != '/') native += '/';
    const bool exact = searching && Exists(native + part);
    std::string found;
    if (searching && !exact && FindIgnoringCase(folder, part, found)) {
      native += found;
    } else {
      native += part;
      if (!exact) searching = false;
    }
  }
  return true;
}

std::string PathMap::ToWindows(std::string_view native) {
  std::string out = "Z:";
  for (char c : native) out += c == '/' ? '\\' : c;
  if (out.size() == 2) out += '\\';
  return out;
}

}  // namespace kvx
