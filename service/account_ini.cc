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

// Copies the flash file at `path` to the temp working copy, lets `edit`
// change the UTF-16 copy, and copies it back.
template <typename Edit>
void EditAccountFile(ToolContext& ctx, const std::string& path, Edit edit) {
  const std::string temp = ctx.files.TempFolder() + "kvxaccount.ini";
  Diag(ctx.debug, "Temp kvxaccount Ini File = %s", temp.c_str());
  CopyFileBuffered(ctx, path, temp);
  if (PathExists(ctx.files, ctx.debug, temp)) {
    ConvertUtf8ToUnicode(ctx, temp, temp);
    {
      CIniFile ini(ctx.profile, temp);
      edit(ini);
    }
    ConvertIniToUtf8(ctx, temp);
  }
  CopyFileBuffered(ctx, temp, path);
  ctx.files.DeleteFile(temp);
}

// Copies one text key from the account's copy into the combined file.
void CopyText(ToolContext& ctx, CIniFile& from, CIniFile& to, const std::string& section,
              const char* key, std::string& value) {
  from.ReadString(section, key, value);
  to.WriteString(section, key, value);
  Diag(ctx.debug, "%s = %s", key, value.c_str());
}

}  // namespace

bool FitsProfileBuffer(const std::string& text) { return Utf16Length(text) <= 255; }

void WriteAccountINIForRemote(ToolContext& ctx) {
  ctx.debug.Write(kEquals35 + "Enter WriteAccountINIForRemote" + kEquals26);
  CUserAccountExport accounts(ctx);
  accounts.ExportLocalAccountsLogonedEver("~:", "kvxaccount.ini", true);
  std::vector<std::string> folders;
  accounts.GetAccountFolders(folders);

  const std::string real = std::string("~:") + "\\" + "kvxaccounts.ini";
  const std::string temp = ctx.files.TempFolder() + "kvxaccounts.ini";
  Diag(ctx.debug, "The Real IniFile Location is %s, and the Temp IniFile Location is %s.",
       real.c_str(), temp.c_str());
  ctx.files.DeleteFile(temp);
  CreateUnicodeIni(ctx, temp);

  const std::string default_user = accounts.GetDefaultUser();
  Diag(ctx.debug, "The Defualt User of accounts is %s.", default_user.c_str());
  CIniFile combined(ctx.profile, temp);
  combined.WriteString("General", "DefaultUser", default_user);
  combined.WriteString("General", "Resolution", "1024x768");

  for (const std::string& folder : folders) {
    const std::string copy_path = folder + "\\kvxaccount_unicode.ini";
    ConvertUtf8ToUnicode(ctx, folder + "\\kvxaccount.ini", copy_path);
    if (PathExists(ctx.files, ctx.debug, copy_path)) {
      Diag(ctx.debug, "strUserPath = %s", copy_path.c_str());
      CIniFile copy(ctx.profile, copy_path);
      std::vector<std::string> sections;
      copy.ReadSectionNames(sections);
      if (!sections.empty()) {
        const std::string& s = sections[0];
        std::string value;
        for (const char* key : {"DataFolder", "Password", "UserImage", "IndexFile"})
          CopyText(ctx, copy, combined, s, key, value);
        combined.WriteInt(s, "FirstPageType", copy.ReadInt(s, "FirstPageType", 0));
        CopyText(ctx, copy, combined, s, "KeyboardID", value);
        CopyText(ctx, copy, combined, s, "RestoreKeyboardID", value);
        combined.WriteInt(s, "FirstTime", copy.ReadInt(s, "FirstTime", 1));
        CopyText(ctx, copy, combined, s, "PFLDR", value);
        if (s == default_user) {
          copy.ReadString(s, "LanguageID", value);
          combined.WriteString("General", "OutlookLanguage", value);
        }
        Diag(ctx.debug, "OutlookLanguage = %s", value.c_str());
        CopyText(ctx, copy, combined, s, "LanguageID", value);
        CopyText(ctx, copy, combined, s, "RestoreLanguageID", value);
      }
    }
    ctx.files.DeleteFile(copy_path);
  }

  combined.Flush();
  ctx.debug.Write("Complete the temp accounts.ini file Successful");
  ConvertIniToUtf8(ctx, temp);
  ctx.debug.Write("Complete the temp accounts.ini file to UTF8 Successful");
  int error = 0;
  if (!CopyFileBuffered(ctx, temp, real, &error)) {
    ctx.debug.Write("An error occer when copy ini file");
    if (error == kErrorAccessDenied) {
      ctx.debug.Write("ACCESS_DENIED when copy ini file");
      ctx.files.SetAttributes(real, kAttrNormal);
      CopyFileBuffered(ctx, temp, real);
    }
  }
  ctx.debug.Write("Copy accounts.ini file Successful");
  if (ctx.files.GetAttributes(temp) != kInvalidAttributes) ctx.files.DeleteFile(temp);
  ctx.debug.Write(kEquals35 + "Leave WriteAccountINIForRemote" + kEquals26);
}

bool ResetAccountIni(ToolContext& ctx, const std::string& path, const std::string& section) {
  EditAccountFile(ctx, path, [&](CIniFile& ini) {
    std::string value;
    ini.ReadString(section, "RestoreKeyboardID", value);
    ini.WriteString(section, "KeyboardID", "\"" + value + "\"");
    ini.ReadString(section, "RestoreLanguageID", value);
    ini.WriteString(section, "LanguageID", "\"" + value + "\"");
    for (const char* key : kApplicationKeys) ini.WriteInt(section, key, 1);
  });
  return true;
}

bool WriteAccessSettings(ToolContext& ctx, const std::string& path, const int flags[9],
                         const std::string& section) {
  EditAccountFile(ctx, path, [&](CIniFile& ini) {
    for (int i = 0; i < 9; ++i) ini.WriteInt(section, kApplicationKeys[i], flags[i]);
  });
  return true;
}

void MarkFirstTime(ToolContext& ctx, const std::string& path) {
  ConvertUtf8ToUnicode(ctx, path, path);
  CIniFile(ctx.profile, path).WriteInt("User", "FirstTime", 1);
  ConvertIniToUtf8(ctx, path);
}

}  // namespace kvx
