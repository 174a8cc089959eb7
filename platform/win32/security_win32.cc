#include "platform/win32/security_win32.h"

#include <shellapi.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace kvx {

bool AdminGroupFromTokenGroups(const TOKEN_GROUPS& groups, AdminGroupState& out) {
  out = AdminGroupState();
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &admins))
    return false;
  for (DWORD i = 0; i < groups.GroupCount; ++i) {
    if (EqualSid(groups.Groups[i].Sid, admins)) {
      out.member = true;
      out.enabled = (groups.Groups[i].Attributes & SE_GROUP_ENABLED) != 0;
      break;
    }
  }
  FreeSid(admins);
  return true;
}

bool Win32Security::ReadAdminGroup(AdminGroupState& out) {
  out = AdminGroupState();
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD needed = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &needed);
  bool ok = false;
  if (needed >= sizeof(TOKEN_GROUPS)) {
    // Held in pointer-sized units, so that the list is aligned for its SIDs.
    std::vector<void*> list((needed + sizeof(void*) - 1) / sizeof(void*));
    if (GetTokenInformation(token, TokenGroups, list.data(), needed, &needed))
      ok = AdminGroupFromTokenGroups(*reinterpret_cast<const TOKEN_GROUPS*>(list.data()), out);
  }
  CloseHandle(token);
  if (!ok) out = AdminGroupState();
  return ok;
}

std::wstring QuoteCommandLineArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quotation mark: then each is doubled
    // and the mark escaped.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');  // before the closing mark
  quoted += L'"';
  return quoted;
}

void Win32Security::LaunchElevated(const std::string& executable,
                                   const std::vector<std::string>& arguments) {
  // Each argument is quoted so that a file name with blanks reaches the
  // elevated copy as the one argument it was here.
  std::wstring parameters;
  for (const std::string& a : arguments)
    parameters += (parameters.empty() ? L"" : L" ") + QuoteCommandLineArgument(Wide(a));
  ShellExecuteW(nullptr, L"runas", Wide(executable).c_str(), parameters.c_str(), nullptr, SW_SHOW);
}

}  // namespace kvx
