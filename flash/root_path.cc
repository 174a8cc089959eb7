#include "flash/root_path.h"

#include "core/diag.h"
#include "core/path_exists.h"
#include "core/utf.h"

namespace kvx {

namespace {

constexpr size_t kLineBuffer = 1024;  // wide characters, terminator included

// Reads the index file the way the run-time's text mode does: a CR LF pair
// reads as one line end, Ctrl-Z ends the file, and each narrow character
// widens to one wide character. Lines are cut into runs of 1023
// characters as a 1024-character buffer takes them.
class IndexReader {
 public:
  explicit IndexReader(File& file) : file_(file) {}

  // The next line, its line end kept; false at the end of the file or
  // after a read error.
  bool ReadLine(std::u16string& line) {
    line.clear();
    while (line.size() < kLineBuffer - 1) {
      int c = Next();
      if (c < 0) break;
      if (c == '\r') {
        const int d = Next();
        if (d == '\n') {
          c = '\n';
        } else if (d >= 0) {
          pushed_ = d;
        }
      }
      line += static_cast<char16_t>(c);
      if (c == '\n') break;
    }
    return !line.empty();
  }

 private:
  int Next() {
    if (pushed_ >= 0) {
      const int c = pushed_;
      pushed_ = -1;
      return c;
    }
    if (done_) return -1;
    if (pos_ == len_) {
      len_ = file_.Read(buf_, sizeof buf_);
      pos_ = 0;
      if (len_ == 0) {
        done_ = true;
        return -1;
      }
    }
    const unsigned char c = static_cast<unsigned char>(buf_[pos_++]);
    if (c == 0x1A) {
      done_ = true;
      return -1;
    }
    return c;
  }

  File& file_;
  char buf_[4096];
  size_t pos_ = 0, len_ = 0;
  int pushed_ = -1;
  bool done_ = false;
};

bool Fits(const std::string& path) { return Utf16Length(path) <= kMaxRootLength; }

bool Discover(ToolContext& ctx, int line_number, const char* fallback, const char* message,
              std::string& out) {
  std::string path = ctx.state.flash_root;
  Diag(ctx.debug, "The volume is %s ", ctx.state.flash_root.c_str());
  bool found = GetRootPathFromIdx(ctx, line_number, path);
  Diag(ctx.debug, "GetRootPathFromIdx function is %s", path.c_str());
  if (!found) found = GetRootPathFromMarker(ctx, fallback, path);
  Diag(ctx.debug, message, path.c_str());
  out = path;
  return found;
}

// Whether a root found below `volume` is the volume itself or lies inside
// it: a root that is a link out of the volume would take every step there.
bool InsideTheVolume(ToolContext& ctx, const std::string& volume, const std::string& root) {
  // A drive ("~:") is asked about by its root folder. The usual answer, a
  // root below the volume, is had first, without a message; only when it is
  // not that is the root compared with the volume itself.
  const std::string folder = volume.size() == 2 && volume[1] == ':' ? volume + "\\" : volume;
  return ctx.files.IsWithin(folder, root) || ctx.files.SameFile(volume, root) ||
         StaysInside(ctx.files, ctx.debug, volume, root);
}

}  // namespace

bool GetRootPathFromIdx(ToolContext& ctx, int line_number, std::string& path) {
  ctx.debug.Write("Enter into idx file to get Ac RootPath");
  const std::string index = path + "\\quarle.idx";
  Diag(ctx.debug, "The idx Path is %s", index.c_str());
  if (!PathExists(ctx.files, ctx.debug, index)) {
    ctx.debug.Write("Can not find the idx file");
    return false;
  }
  if (!StaysInItsFolder(ctx.files, ctx.debug, index)) return false;  // a link out of the volume
  std::unique_ptr<File> file = ctx.files.Open(index, "rt", nullptr);
  if (!file) return false;  // an index that cannot be read names nothing
  ctx.debug.Write("The idx file open successful");
  IndexReader reader(*file);
  std::u16string line;
  int count = 0;
  bool reached = false;
  while (reader.ReadLine(line)) {
    if (++count == line_number) {
      reached = true;
      break;
    }
  }
  file.reset();
  if (!reached) {
    Diag(ctx.debug, "The read line index is : %d, should be %d", count, line_number);
    return false;
  }
  // The buffer's text ends at its first NUL; then the line is cut at its
  // last CR or LF.
  line = line.substr(0, line.find(u'\0'));
  const size_t end = line.find_last_of(u"\r\n");
  if (end != std::u16string::npos) line.resize(end);
  std::string candidate = path;
  for (char16_t c : line) AppendUtf8(candidate, c);
  Diag(ctx.debug, "The wsPath is %s", candidate.c_str());
  const size_t slash = candidate.find('/');
  if (slash != std::string::npos) candidate[slash] = '\\';
  Diag(ctx.debug, "The wsPath is %s", candidate.c_str());
  const bool exists = PathExists(ctx.files, ctx.debug, candidate);
  Diag(ctx.debug, "The  path  %s  is %d", candidate.c_str(), exists ? 1 : 0);
  if (!exists || !Fits(candidate) || !InsideTheVolume(ctx, path, candidate)) return false;
  path = candidate;
  return true;
}

bool GetRootPathFromMarker(ToolContext& ctx, const std::string& fallback, std::string& path) {
  const std::string candidate = path + fallback;
  if (!PathExists(ctx.files, ctx.debug, candidate) || !Fits(candidate) ||
      !InsideTheVolume(ctx, path, candidate))
    return false;
  path = candidate;
  return true;
}

bool GetRootPathFromDataPath(ToolContext& ctx, std::string& out) {
  return Discover(ctx, 3, "\\QUARLE.000", "GetRootPathFromDataPath function is %s", out);
}

bool GetRootPathFromSysPath(ToolContext& ctx, std::string& out) {
  return Discover(ctx, 2, "\\QUARLE.SYS", "GetRootPathFromSysPath function is %s", out);
}

}  // namespace kvx
