#include "service/user_account_export.h"

#include "core/diag.h"
#include "core/path_exists.h"
#include "core/text.h"
#include "core/utf.h"
#include "core/whole_file.h"
#include "service/ini_encoding.h"
#include "service/ini_file.h"

namespace kvx {

void CUserAccountExport::GetUserSettingsPath(std::string& path) {
  ctx_.debug.Write("CUserAccountExport::GetUserSettingsPath()\n");
  path += "\\QUARLE.000";
  if (PathExists(ctx_.files, ctx_.debug, path)) path += "\\";
}

void RemoveLeftoverWorkingCopies(ToolContext& ctx) {
  const std::string folder = ctx.files.TempFolder();
  const std::string prefix = kWorkingCopyPrefix;
  std::vector<FindEntry> entries;
  if (folder.empty()) return;
  // Also what was written beside a working copy or another file here.
  RemovePartialFiles(ctx.files, folder);
  if (!ctx.files.FindFiles(folder + prefix + "*.tmp", entries)) return;
  for (const FindEntry& e : entries) {
    // The pattern's match is checked again: a system may match short names.
    const bool ours = e.name.size() > prefix.size() + 4 && EqualsIgnoringCase(e.name.substr(0, prefix.size()), prefix) &&
                      EqualsIgnoringCase(e.name.substr(e.name.size() - 4), ".tmp");
    if (ours && !(e.attributes & (kAttrDirectory | kAttrReadOnly)) && ctx.files.DeleteFile(folder + e.name)) {
      Diag(ctx.debug, "Removed %s, left by an interrupted run.", (folder + e.name).c_str());
    }
  }
}

void CUserAccountExport::ExportLocalAccountsLogonedEver(const std::string& root,
                                                        const std::string& ini_name,
                                                        bool include_all) {
  ctx_.debug.Write("CUserAccountExport::ExportLocalAccountsLogonedEver()\n");
  accounts_.clear();
  complete_ = true;
  std::string settings = root;
  GetUserSettingsPath(settings);
  ctx_.debug.Write(settings);

  int64_t latest = 0;
  default_user_.clear();
  std::string temp;
  std::vector<FindEntry> entries;
  if (!ctx_.files.CreateTempFile(ctx_.files.TempFolder(), kWorkingCopyPrefix, temp)) {
    // Without a file of its own the export would read another's.
    ctx_.debug.Write("Failed to create the temp file!");
    temp.clear();
    complete_ = false;
  } else if (!ctx_.files.FindFiles(settings + "*", entries)) {
    ctx_.debug.Write("Failed to enum files!");
  } else {
    for (const FindEntry& entry : entries) {
      if (!(entry.attributes & kAttrDirectory) || entry.name == "." || entry.name == "..") continue;
      // A folder that is a link out of the folder of accounts is no account.
      if ((entry.attributes & kAttrReparsePoint) &&
          !StaysInside(ctx_.files, ctx_.debug, settings, settings + entry.name))
        continue;
      const std::string ini = settings + entry.name + "\\" + ini_name;
      // Only a copy made from this folder's file is read.
      bool unwritable = false;
      const bool copied = CopyUtf8AsUnicode(ctx_, ini, temp, &unwritable);
      if (unwritable) {
        Diag(ctx_.debug, "The working copy of %s could not be written.", ini.c_str());
        complete_ = false;
      }
      std::u16string buffer;
      if (copied) ctx_.profile.GetSectionNames(buffer, 520, temp);
      const std::vector<std::string> sections = SplitSectionNames(buffer);
      bool listed = !sections.empty();
      if (listed && !include_all && sections[0] == "User") {
        std::u16string first_time;
        ctx_.profile.GetString("User", "FirstTime", "0", first_time, 32, temp);
        if (first_time == u"0") listed = false;
      }
      if (listed) {
        accounts_.push_back({sections[0], settings + entry.name});
        int64_t time = 0;
        if (!ctx_.files.GetLastWriteTime(ini, time)) time = entry.last_write;
        if (time > latest) {
          latest = time;
          default_user_ = sections[0];
        }
      }
      ctx_.files.DeleteFile(temp);
    }
  }
  if (!temp.empty() && ctx_.files.GetAttributes(temp) != kInvalidAttributes)
    ctx_.files.DeleteFile(temp);
}

void CUserAccountExport::GetAccountFolders(std::vector<std::string>& out) const {
  for (const AccountEntry& a : accounts_) out.push_back(a.folder);
}

}  // namespace kvx
