#include "service/account_ini.h"

#include <vector>

#include "core/diag.h"
#include "core/path_exists.h"
#include "core/utf.h"
#include "service/ini_encoding.h"
#include "service/ini_file.h"
#include "service/user_account_export.h"

namespace kvx {

namespace {

const std::string kEquals35(35, '=');
const std::string kEquals26(26, '=');

// Removes a working file that an earlier run left behind, so that what is
// read next is made by this run. Our own working file may have been left
// read-only; a link or a folder in its place is not ours and stays, which
// makes the step fail.
bool RemoveWorkingFile(ToolContext& ctx, const std::string& path) {
  const uint32_t attributes = ctx.files.GetAttributes(path);
  if (attributes == kInvalidAttributes) return true;
  if (attributes & (kAttrDirectory | kAttrReparsePoint)) return false;
  if (attributes & kAttrReadOnly) ctx.files.SetAttributes(path, kAttrNormal);
  return ctx.files.DeleteFile(path);
}

// Copies the flash file at `path` to a fresh working copy in the temp
// folder, lets `edit` change the copy (made UTF-16 when the converters take
// it), and puts it back. Each step
// must succeed before the next runs; when one fails, the flash file stays
// as it was and the result is false. A flash file that does not exist is
// left missing, and that is no failure.
template <typename Edit>
bool EditAccountFile(ToolContext& ctx, const std::string& path, Edit edit) {
  // An account folder that is a link out of the folder of accounts is not
  // written through.
  const size_t cut = path.rfind('\\');
  if (cut != std::string::npos && !StaysInItsFolder(ctx.files, ctx.debug, path.substr(0, cut)))
    return false;
  const std::string temp = ctx.files.TempFolder() + "kvxaccount.ini";
  Diag(ctx.debug, "Temp kvxaccount Ini File = %s", temp.c_str());
  if (!RemoveWorkingFile(ctx, temp)) {
    Diag(ctx.debug, "The working copy %s could not be removed; %s is left as it was.",
         temp.c_str(), path.c_str());
    return false;
  }
  int error = 0;
  if (!CopyFileBuffered(ctx, path, temp, &error, Durability::kSystem)) return error == kErrorFileNotFound;
  RemovePartialFilesBeside(ctx.files, path);
  // A file the converters do not take (an empty one, one of 1 MiB or more)
  // stays as it is, and the profile functions edit it in its own encoding.
  const bool utf16 = ConvertUtf8ToUnicode(ctx, temp, temp);
  bool edited = false;
  {
    CIniFile ini(ctx.profile, temp);
    edited = edit(ini) && ini.Flush();
  }
  if (utf16) edited = edited && ConvertIniToUtf8(ctx, temp);
  edited = edited && CopyFileBuffered(ctx, temp, path);
  if (!edited) Diag(ctx.debug, "%s could not be edited and is left as it was.", path.c_str());
  ctx.files.DeleteFile(temp);
  return edited;
}

// Copies one text key from the account's copy into the combined file;
// false when it could not be written.
bool CopyText(ToolContext& ctx, CIniFile& from, CIniFile& to, const std::string& section,
              const char* key, std::string& value) {
  from.ReadString(section, key, value);
  const bool written = to.WriteString(section, key, value);
  Diag(ctx.debug, "%s = %s", key, value.c_str());
  return written;
}

}  // namespace

bool ReadAccountSettings(ToolContext& ctx, const std::string& path, const std::string& section,
                         AccountSettings& out) {
  out = AccountSettings();
  std::string temp;
  if (!ctx.files.CreateTempFile(ctx.files.TempFolder(), kWorkingCopyPrefix, temp)) return false;
  const bool copied = CopyUtf8AsUnicode(ctx, path, temp);
  if (copied) {
    CIniFile ini(ctx.profile, temp);
    ini.ReadString(section, "FirstTime", out.first_time);
    for (int i = 0; i < 9; ++i) {
      std::string text;
      ini.ReadString(section, kApplicationKeys[i], text);
      out.has_switch[i] = !text.empty();
      if (out.has_switch[i]) out.switches[i] = ini.ReadInt(section, kApplicationKeys[i], 0);
    }
  }
  ctx.files.DeleteFile(temp);
  return copied;
}

bool FitsProfileBuffer(const std::string& text) { return Utf16Length(text) <= 255; }

bool WriteAccountINIForRemote(ToolContext& ctx) {
  ctx.debug.Write(kEquals35 + "Enter WriteAccountINIForRemote" + kEquals26);
  CUserAccountExport accounts(ctx);
  accounts.ExportLocalAccountsLogonedEver("~:", "kvxaccount.ini", true);
  std::vector<std::string> folders;
  accounts.GetAccountFolders(folders);

  const std::string real = std::string("~:") + "\\" + "kvxaccounts.ini";
  const std::string temp = ctx.files.TempFolder() + "kvxaccounts.ini";
  Diag(ctx.debug, "The Real IniFile Location is %s, and the Temp IniFile Location is %s.",
       real.c_str(), temp.c_str());
  RemovePartialFilesBeside(ctx.files, real);
  if (!RemoveWorkingFile(ctx, temp) || !CreateUnicodeIni(ctx, temp)) {
    ctx.debug.Write("An error occer when copy ini file");
    ctx.debug.Write(kEquals35 + "Leave WriteAccountINIForRemote" + kEquals26);
    return false;
  }

  const std::string default_user = accounts.GetDefaultUser();
  Diag(ctx.debug, "The Defualt User of accounts is %s.", default_user.c_str());
  CIniFile combined(ctx.profile, temp);
  // Every value must reach the combined file, or the old one stays.
  bool written = accounts.complete() &&
                 combined.WriteString("General", "DefaultUser", default_user) &&
                 combined.WriteString("General", "Resolution", "1024x768");

  for (const std::string& folder : folders) {
    const std::string copy_path = folder + "\\kvxaccount_unicode.ini";
    RemovePartialFilesBeside(ctx.files, copy_path);
    // Only a copy this step made is read: a leftover of an earlier run is
    // removed first, and a failed conversion skips the account. A copy
    // that could not be written would leave the account out of the
    // combined file, which then does not replace the old one.
    bool unwritable = false;
    const bool converted = RemoveWorkingFile(ctx, copy_path) &&
                           ConvertUtf8ToUnicode(ctx, folder + "\\kvxaccount.ini", copy_path, &unwritable);
    if (unwritable) written = false;
    if (converted) {
      Diag(ctx.debug, "strUserPath = %s", copy_path.c_str());
      CIniFile copy(ctx.profile, copy_path);
      std::vector<std::string> sections;
      copy.ReadSectionNames(sections);
      if (!sections.empty()) {
        const std::string& s = sections[0];
        std::string value;
        for (const char* key : {"DataFolder", "Password", "UserImage", "IndexFile"})
          written = CopyText(ctx, copy, combined, s, key, value) && written;
        written = combined.WriteInt(s, "FirstPageType", copy.ReadInt(s, "FirstPageType", 0)) && written;
        written = CopyText(ctx, copy, combined, s, "KeyboardID", value) && written;
        written = CopyText(ctx, copy, combined, s, "RestoreKeyboardID", value) && written;
        written = combined.WriteInt(s, "FirstTime", copy.ReadInt(s, "FirstTime", 1)) && written;
        written = CopyText(ctx, copy, combined, s, "PFLDR", value) && written;
        if (s == default_user) {
          copy.ReadString(s, "LanguageID", value);
          written = combined.WriteString("General", "OutlookLanguage", value) && written;
        }
        Diag(ctx.debug, "OutlookLanguage = %s", value.c_str());
        written = CopyText(ctx, copy, combined, s, "LanguageID", value) && written;
        written = CopyText(ctx, copy, combined, s, "RestoreLanguageID", value) && written;
      }
    }
    ctx.files.DeleteFile(copy_path);
  }

  written = combined.Flush() && written;
  ctx.debug.Write("Complete the temp accounts.ini file Successful");
  written = written && ConvertIniToUtf8(ctx, temp);
  ctx.debug.Write("Complete the temp accounts.ini file to UTF8 Successful");
  int error = 0;
  bool copied = false;
  if (!written) {
    // An incomplete combined file never replaces the one on the volume.
    ctx.debug.Write("An error occer when copy ini file");
  } else if (!(copied = CopyFileBuffered(ctx, temp, real, &error))) {
    ctx.debug.Write("An error occer when copy ini file");
    if (error == kErrorAccessDenied) {
      ctx.debug.Write("ACCESS_DENIED when copy ini file");
      ctx.files.SetAttributes(real, kAttrNormal);
      copied = CopyFileBuffered(ctx, temp, real);
    }
  }
  ctx.debug.Write("Copy accounts.ini file Successful");
  if (ctx.files.GetAttributes(temp) != kInvalidAttributes) ctx.files.DeleteFile(temp);
  ctx.debug.Write(kEquals35 + "Leave WriteAccountINIForRemote" + kEquals26);
  return copied;
}

bool ResetAccountIni(ToolContext& ctx, const std::string& path, const std::string& section) {
  return EditAccountFile(ctx, path, [&](CIniFile& ini) {
    std::string value;
    ini.ReadString(section, "RestoreKeyboardID", value);
    bool ok = ini.WriteString(section, "KeyboardID", "\"" + value + "\"");
    ini.ReadString(section, "RestoreLanguageID", value);
    ok = ini.WriteString(section, "LanguageID", "\"" + value + "\"") && ok;
    for (const char* key : kApplicationKeys) ok = ini.WriteInt(section, key, 1) && ok;
    return ok;
  });
}

bool WriteAccessSettings(ToolContext& ctx, const std::string& path, const int flags[9],
                         const std::string& section) {
  return EditAccountFile(ctx, path, [&](CIniFile& ini) {
    bool ok = true;
    for (int i = 0; i < 9; ++i) ok = ini.WriteInt(section, kApplicationKeys[i], flags[i]) && ok;
    return ok;
  });
}

bool MarkFirstTime(ToolContext& ctx, const std::string& path) {
  // Through a working copy like every other edit, so the file on the volume
  // is never left half converted.
  return EditAccountFile(ctx, path,
                         [&](CIniFile& ini) { return ini.WriteInt("User", "FirstTime", 1); });
}

}  // namespace kvx
