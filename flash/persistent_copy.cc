#include "flash/persistent_copy.h"

#include <vector>

#include "app/path_resolution.h"
#include "core/diag.h"
#include "core/path_exists.h"
#include "core/text.h"
#include "core/utf.h"
#include "core/whole_file.h"
#include "service/account_ini.h"
#include "service/ini_encoding.h"

namespace kvx {

namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

// Whether a copy out of `folder` takes the entry: a regular file (not a
// folder, pipe or device), not a file an interrupted run left beside its
// final name, and not a link that leads out of `folder`. With `report`, a
// pipe, device or link out is named in the debugger output.
bool TakesEntry(ToolContext& ctx, const std::string& folder, const FindEntry& e, bool report) {
  if (e.name == "." || e.name == ".." || (e.attributes & kAttrDirectory) || IsPartialFile(e.name))
    return false;
  const std::string path = WithSlash(folder) + e.name;
  if (e.attributes & kAttrDevice) {
    if (report) Diag(ctx.debug, "%s is not a regular file and is passed over.", path.c_str());
    return false;
  }
  if (!(e.attributes & kAttrReparsePoint)) return true;
  if (report) return StaysInside(ctx.files, ctx.debug, folder, path);
  return ctx.files.IsWithin(folder, path);
}

// What the two copies of a user subfolder take: what TakesEntry takes,
// but for dot files.
bool IsCopiedEntry(ToolContext& ctx, const std::string& folder, const FindEntry& e, bool report) {
  return e.name[0] != '.' && TakesEntry(ctx, folder, e, report);
}

// A copy whose destination folder is its source folder, however spelt,
// would write every file onto itself: it is refused before anything is
// touched.
bool IsCopyOntoItself(ToolContext& ctx, const std::string& source, const std::string& destination) {
  if (!ctx.files.SameFile(source, destination)) return false;
  Diag(ctx.debug, "The Dst Folder %s is the Src Folder %s; nothing is copied.",
       destination.c_str(), source.c_str());
  return true;
}

}  // namespace

int64_t CopyPercentage(uint64_t copied, uint64_t total) {
  if (total == 0) return -1;
  return static_cast<int64_t>(copied * 100 / total);
}

void ReportCopyProgress(ToolContext& ctx, const std::string& text) {
  Diag(ctx.debug, "The Finish Rate of CopyPersistentData is %s", text.c_str());
  if (!ctx.state.progress) return;
  std::unique_ptr<MappingView> view = ctx.state.progress->MapView(kProgressViewSize);
  if (!view) return;
  const std::u16string units = Utf8ToUtf16(text);
  for (size_t i = 0; i < units.size() && 2 * i + 1 < view->size(); ++i) {
    view->data()[2 * i] = static_cast<unsigned char>(units[i] & 0xFF);
    view->data()[2 * i + 1] = static_cast<unsigned char>(units[i] >> 8);
  }
}

bool CopyFileWithProgress(ToolContext& ctx, const std::string& destination,
                          const std::string& source, Durability durability) {
  std::unique_ptr<File> in = ctx.files.Open(source, "rb", nullptr);
  if (!in) {
    Diag(ctx.debug, "The SourceFile(%s), Opened Failed.", source.c_str());
    return false;
  }
  Diag(ctx.debug, "The SourceFile(%s), Opened Successfully .", source.c_str());
  bool opened = false;
  const bool whole = WriteWholeFile(
      ctx.files, destination,
      [&](File& out) {
        opened = true;
        Diag(ctx.debug, "The DstFile(%s), Opened Successfully .", destination.c_str());
        return CopyChunks(*in, out, [&](size_t n, bool written) {
          if (!written) return;
          ctx.state.copy_done += n;
          const int64_t percent = CopyPercentage(ctx.state.copy_done, ctx.state.copy_total);
          if (percent >= 0) ReportCopyProgress(ctx, std::to_string(percent));
        });
      },
      nullptr, nullptr, durability);
  if (!opened) {
    Diag(ctx.debug, "The DstFile(%s), Opened Failed.", destination.c_str());
  } else if (!whole) {
    Diag(ctx.debug, "The DstFile(%s) could not be written whole and was left as it was.",
         destination.c_str());
  }
  return whole;
}

bool CopyPersistentData(ToolContext& ctx, const std::string& folder) {
  ctx.state.copy_total = ctx.state.copy_done = 0;
  ctx.debug.Write("BeginFlash is starting ....");
  int status = 3;
  if (!ctx.flash.BeginFlash(status)) return false;
  ctx.debug.Write("BeginFlash is End ....");
  const std::string destination = WithSlash(folder);
  std::string root;
  if (!GetUserFolderPathEx(ctx, root)) {
    ctx.debug.Write("GetUserFolderPathEx Failed!");
    ctx.flash.EndFlash();
    return false;
  }
  Diag(ctx.debug, "GetUserFolderPathEx's path is %s", root.c_str());
  const std::string source = WithSlash(root) + "user\\";
  const std::string pattern = WithSlash(root) + "user\\*.*";

  // A user subfolder that is a link out of the volume is not read.
  if (IsCopyOntoItself(ctx, source, destination) ||
      !StaysInItsFolder(ctx.files, ctx.debug, WithSlash(root) + "user")) {
    ctx.flash.EndFlash();
    return false;
  }
  std::vector<FindEntry> entries;
  if (ctx.files.FindFiles(pattern, entries))
    for (const FindEntry& e : entries)
      if (IsCopiedEntry(ctx, source, e, false)) ctx.state.copy_total += e.size;

  bool every_file = true;
  if (ctx.files.FindFiles(pattern, entries)) {
    RemovePartialFiles(ctx.files, destination);
    ctx.state.progress = ctx.objects.OpenFileMapping(kProgressMappingName);
    for (const FindEntry& e : entries)
      if (IsCopiedEntry(ctx, source, e, true))
        every_file = CopyFileWithProgress(ctx, destination + e.name, source + e.name,
                                          Durability::kSystem) &&
                     every_file;
    ctx.state.progress.reset();
  } else {
    every_file = false;  // the user subfolder is missing
  }
  ctx.flash.NotifyServiceExport();
  ctx.flash.EndFlash();
  return every_file;
}

bool DoCopyPersistentData(ToolContext& ctx, const std::string&) {
  ctx.state.copy_total = ctx.state.copy_done = 0;
  std::string root;
  if (!GetUserFolderPathEx(ctx, root)) return false;
  const std::string destination = WithSlash(root) + "user\\";
  const std::string module = ctx.process.ModuleFileName();
  const size_t slash = module.rfind('\\');
  if (module.empty() || slash == std::string::npos || slash == 0) return false;
  const std::string source = module.substr(0, slash + 1);
  const std::string own_name = module.substr(slash + 1);
  Diag(ctx.debug, "The Dst Folder is %s, and the Src Folder is %s", destination.c_str(),
       source.c_str());
  // A user subfolder that is a link out of the volume is not written.
  if (IsCopyOntoItself(ctx, source, destination) ||
      !StaysInItsFolder(ctx.files, ctx.debug, WithSlash(root) + "user"))
    return false;
  // What is skipped: schema, XML, program and log files, and the tool's own
  // executable, which has no ".exe" on POSIX.
  auto skipped = [&](const std::string& name) {
    for (const char* part : {".xml", ".xsd", ".exe", ".log"})
      if (name.find(part) != std::string::npos) return true;
    return name == own_name;
  };
  std::vector<FindEntry> entries;
  if (ctx.files.FindFiles(source + "*.*", entries))
    for (const FindEntry& e : entries)
      if (IsCopiedEntry(ctx, source, e, false) && !skipped(e.name)) ctx.state.copy_total += e.size;
  bool every_file = true;
  if (ctx.files.FindFiles(source + "*.*", entries)) {
    RemovePartialFiles(ctx.files, destination);
    for (const FindEntry& e : entries) {
      if (!IsCopiedEntry(ctx, source, e, true)) continue;
      Diag(ctx.debug, "The FileName is %s.", e.name.c_str());
      if (skipped(e.name)) continue;
      Diag(ctx.debug, "The Dst file is %s, and the Src file is %s", (destination + e.name).c_str(),
           (source + e.name).c_str());
      every_file = CopyFileWithProgress(ctx, destination + e.name, source + e.name) && every_file;
    }
  }
  return every_file;
}

bool DoResetUserCmd(ToolContext& ctx, const std::string& account) {
  std::string folder;
  if (!GetCurrentUserPath(ctx, account, folder) || !StaysInItsFolder(ctx.files, ctx.debug, folder))
    return false;
  const std::string ini = folder + "\\kvxaccount.ini";
  // The INI functions take both in 256-character buffers.
  bool done = FitsProfileBuffer(ini) && FitsProfileBuffer(account) &&
              ResetAccountIni(ctx, ini, account);
  Diag(ctx.debug, "The folder of %s is %s!", account.c_str(), folder.c_str());
  std::string persist;
  if (!GetPersistFolderPath(ctx, persist)) return false;
  Diag(ctx.debug, "The data folder is %s!", persist.c_str());
  if (IsCopyOntoItself(ctx, persist, folder) || !StaysInItsFolder(ctx.files, ctx.debug, persist))
    return false;
  // An account deleted earlier in the run has nothing left to fill, and
  // its folder is not made again.
  const bool account_exists = ctx.files.GetAttributes(folder) != kInvalidAttributes;
  std::vector<FindEntry> entries;
  if (account_exists && ctx.files.FindFiles(persist + "\\*", entries)) {
    RemovePartialFiles(ctx.files, folder);
    for (const FindEntry& e : entries) {
      if (!TakesEntry(ctx, persist, e, true)) continue;
      const std::string from = persist + "\\" + e.name;
      const std::string to = folder + "\\" + e.name;
      if (from.size() >= 3 && to.size() >= 3) done = CopyFileBuffered(ctx, from, to) && done;
      Diag(ctx.debug, "Copy file from %s to %s!", from.c_str(), to.c_str());
    }
  }
  ctx.flash.NotifyServiceExport();
  return done;
}

namespace {

// Removes one entry of `folder`; a link is removed itself, never followed.
bool RemoveEntry(ToolContext& ctx, const std::string& folder, const FindEntry& e) {
  const std::string full = folder + e.name;
  if (e.attributes & kAttrReparsePoint)
    return ctx.files.DeleteFile(full) || ctx.files.RemoveDirectory(full);
  if (e.attributes & kAttrDirectory) {
    const bool cleared = ClearFolder(ctx, full);
    return ctx.files.RemoveDirectory(full) && cleared;
  }
  ctx.files.SetAttributes(full, kAttrNormal);
  return ctx.files.DeleteFile(full);
}

}  // namespace

bool ClearFolder(ToolContext& ctx, const std::string& path, const std::string& last) {
  if (!PathExists(ctx.files, ctx.debug, path)) return true;
  if (Utf16Length(path) < 4) return false;
  // A folder that is itself a link is not entered: emptying it would empty
  // whatever it points to, which may lie anywhere. The caller removes the
  // link itself.
  const uint32_t attributes = ctx.files.GetAttributes(path);
  if (attributes != kInvalidAttributes && (attributes & kAttrReparsePoint)) return true;
  const std::string folder = WithSlash(path);
  std::vector<FindEntry> entries;
  if (!ctx.files.FindFiles(folder + "*.*", entries)) return true;
  bool cleared = true;
  const FindEntry* kept = nullptr;
  for (const FindEntry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    if (!last.empty() && EqualsIgnoringCase(e.name, last)) {
      kept = &e;
      continue;
    }
    cleared = RemoveEntry(ctx, folder, e) && cleared;
  }
  // Only once everything else is gone.
  if (kept) cleared = cleared && RemoveEntry(ctx, folder, *kept);
  return cleared;
}

}  // namespace kvx
