#include "service/ini_encoding.h"

#include <vector>

#include "core/diag.h"
#include "core/path_exists.h"
#include "core/utf.h"

namespace kvx {

namespace {

// The file at `path` opened for reading; refused (kErrorAccessDenied) when
// it is a link that leads out of its folder.
std::unique_ptr<File> OpenToRead(ToolContext& ctx, const std::string& path, int* error) {
  if (!StaysInItsFolder(ctx.files, ctx.debug, path)) {
    if (error) *error = kErrorAccessDenied;
    return nullptr;
  }
  return ctx.files.Open(path, "rb", error);
}

// The whole file, refused when it cannot be opened or read or its size is
// 1 MiB or more.
bool ReadSmallFile(ToolContext& ctx, const std::string& path, std::string& bytes) {
  std::unique_ptr<File> file = OpenToRead(ctx, path, nullptr);
  uint64_t size = 0;
  if (!file || !file->Size(size) || size >= kMaxConvertedFile) return false;
  bytes.resize(size);
  return size == 0 || file->Read(bytes.data(), size) == size;
}

// Writes `first` and `rest` as the whole of `path`, which keeps its old
// content on failure. `first_ok` says whether `first` was written.
bool ReplaceWhole(ToolContext& ctx, const std::string& path, const std::string& first,
                  const std::string& rest, bool* first_ok) {
  return WriteWholeFile(
      ctx.files, path,
      [&](File& out) {
        const bool mark = out.Write(first.data(), first.size());
        if (first_ok) *first_ok = mark;
        return mark && out.Write(rest.data(), rest.size());
      },
      nullptr, nullptr, Durability::kSystem);
}

// The UTF-16 of a UTF-8 file's bytes, its mark left out.
std::u16string Utf16OfUtf8File(const std::string& bytes) {
  const size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  return Utf8ToUtf16(std::string_view(bytes).substr(skip));
}

}  // namespace

bool ConvertIniToUtf8(ToolContext& ctx, const std::string& path) {
  std::string bytes;
  if (!ReadSmallFile(ctx, path, bytes) || bytes.size() < 2) return false;
  const bool le = bytes[0] == '\xFF' && bytes[1] == '\xFE';
  const bool be = bytes[0] == '\xFE' && bytes[1] == '\xFF';
  if (!le && !be) return false;
  const std::u16string text = DecodeUtf16Bytes(std::string_view(bytes).substr(2), le);
  return ReplaceWhole(ctx, path, "\xEF\xBB\xBF", Utf16ToUtf8(text), nullptr);
}

// Writes the UTF-16 working copy of the UTF-8 file `source` to `target`;
// with `fresh` the target is deleted first. `created` says whether the
// target was created (its mark written).
bool WriteWorkingCopy(ToolContext& ctx, const std::string& source, const std::string& target,
                      bool fresh, bool* created, bool* unwritable = nullptr) {
  std::string bytes;
  if (!ReadSmallFile(ctx, source, bytes)) return false;
  const std::u16string text = Utf16OfUtf8File(bytes);
  if (text.empty()) return false;
  if (fresh) ctx.files.DeleteFile(target);
  const bool written = ReplaceWhole(ctx, target, "\xFF\xFE", EncodeUtf16Bytes(text), created);
  if (unwritable) *unwritable = !written;
  return written;
}

bool ConvertUtf8ToUnicode(ToolContext& ctx, const std::string& source, const std::string& target,
                          bool* unwritable) {
  if (unwritable) *unwritable = false;
  return WriteWorkingCopy(ctx, source, target, false, nullptr, unwritable);
}

bool CopyUtf8AsUnicode(ToolContext& ctx, const std::string& source, const std::string& target,
                       bool* unwritable) {
  bool created = false, failed = false;
  WriteWorkingCopy(ctx, source, target, true, &created, &failed);
  if (unwritable) *unwritable = failed;
  return created;
}

bool CreateUnicodeIni(ToolContext& ctx, const std::string& path) {
  return ReplaceWhole(ctx, path, "\xFF\xFE", "", nullptr);
}

bool CopyFileBuffered(ToolContext& ctx, const std::string& source, const std::string& destination,
                      int* error, Durability durability) {
  int err = 0;
  std::unique_ptr<File> in = OpenToRead(ctx, source, &err);
  if (!in) {
    if (error) *error = err;
    return false;
  }
  return WriteWholeFile(
      ctx.files, destination,
      [&](File& out) {
        return CopyChunks(*in, out, [&](size_t n, bool written) {
          Diag(ctx.debug, "Read buffer count : %d, and Write buffer size: %d", static_cast<int>(n),
               written ? static_cast<int>(n) : 0);
        });
      },
      error, nullptr, durability);
}

}  // namespace kvx
