#include "service/ini_encoding.h"

#include <vector>

#include "core/diag.h"
#include "core/utf.h"

namespace kvx {

namespace {

// The whole file, refused when it cannot be opened or read or its size is
// 1 MiB or more.
bool ReadSmallFile(ToolContext& ctx, const std::string& path, std::string& bytes) {
  std::unique_ptr<File> file = ctx.files.Open(path, "rb", nullptr);
  uint64_t size = 0;
  if (!file || !file->Size(size) || size >= kMaxConvertedFile) return false;
  bytes.resize(size);
  return size == 0 || file->Read(bytes.data(), size) == size;
}

// Writes `bytes` to a file beside `path` and puts it in `path`'s place, so
// that `path` holds its old content or all of the new. `first` is written
// first; `first_ok` says whether that part was written.
bool ReplaceWhole(ToolContext& ctx, const std::string& path, const std::string& first,
                  const std::string& rest, bool* first_ok) {
  const std::string temp = path + ".kvxnew";
  std::unique_ptr<File> out = ctx.files.Open(temp, "wb", nullptr);
  if (!out) return false;
  const bool mark = out->Write(first.data(), first.size());
  if (first_ok) *first_ok = mark;
  const bool ok = mark && out->Write(rest.data(), rest.size()) && out->Flush();
  out.reset();
  if (!ok || !ctx.files.ReplaceFile(temp, path)) {
    ctx.files.DeleteFile(temp);
    return false;
  }
  return true;
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
                      bool fresh, bool* created) {
  std::string bytes;
  if (!ReadSmallFile(ctx, source, bytes)) return false;
  const std::u16string text = Utf16OfUtf8File(bytes);
  if (text.empty()) return false;
  if (fresh) ctx.files.DeleteFile(target);
  return ReplaceWhole(ctx, target, "\xFF\xFE", EncodeUtf16Bytes(text), created);
}

bool ConvertUtf8ToUnicode(ToolContext& ctx, const std::string& source, const std::string& target) {
  return WriteWorkingCopy(ctx, source, target, false, nullptr);
}

bool CopyUtf8AsUnicode(ToolContext& ctx, const std::string& source, const std::string& target) {
  bool created = false;
  WriteWorkingCopy(ctx, source, target, true, &created);
  return created;
}

bool CreateUnicodeIni(ToolContext& ctx, const std::string& path) {
  std::unique_ptr<File> out = ctx.files.Open(path, "wb", nullptr);
  if (!out) return false;
  out->Write("\xFF\xFE", 2);
  return true;
}

bool CopyFileBuffered(ToolContext& ctx, const std::string& source, const std::string& destination,
                      int* error) {
  int err = 0;
  std::unique_ptr<File> in = ctx.files.Open(source, "rb", &err);
  if (!in) {
    if (error) *error = err;
    return false;
  }
  // A read-only destination refuses to be written, as the system's own
  // open for writing would.
  const uint32_t attributes = ctx.files.GetAttributes(destination);
  if (attributes != kInvalidAttributes && (attributes & (kAttrReadOnly | kAttrDirectory))) {
    if (error) *error = kErrorAccessDenied;
    return false;
  }
  const std::string temp = destination + ".kvxtmp";
  std::unique_ptr<File> out = ctx.files.Open(temp, "wb", &err);
  if (!out) {
    if (error) *error = err;
    return false;
  }
  // Not cleared: a read fills what the write then takes, so a small file
  // touches only the pages it needs.
  std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
  bool complete = true;
  for (;;) {
    const size_t n = in->Read(buffer.get(), kCopyChunk);
    if (n == 0) {
      complete = !in->Error();
      break;
    }
    const bool written = out->Write(buffer.get(), n);
    Diag(ctx.debug, "Read buffer count : %d, and Write buffer size: %d", static_cast<int>(n),
         written ? static_cast<int>(n) : 0);
    if (!written) {
      complete = false;
      break;
    }
  }
  complete = out->Flush() && complete;
  out.reset();
  in.reset();
  if (!complete || !ctx.files.ReplaceFile(temp, destination)) {
    ctx.files.DeleteFile(temp);
    if (error) *error = 112;  // ERROR_DISK_FULL: the copy could not be completed
    return false;
  }
  return true;
}

}  // namespace kvx
