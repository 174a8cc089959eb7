#pragma once
#include <string>

#include "platform/security.h"
#include "platform/win32/windows_api.h"

namespace kvx {

// The process token and the shell's elevated launch. Default-constructible.
class Win32Security : public Security {
 public:
  bool ReadAdminGroup(AdminGroupState& out) override;
  // ShellExecuteW with the verb "RunAs" and SW_SHOW, no working folder.
  void LaunchElevated(const std::string& executable,
                      const std::vector<std::string>& arguments) override;
};

// The walk of a token's group list: the first entry whose SID is the
// built-in Administrators group (S-1-5-32-544) makes the token a member,
// and that entry's enabled bit (SE_GROUP_ENABLED) says whether the group
// counts or is filtered (deny-only). False when the group's SID cannot be
// built.
bool AdminGroupFromTokenGroups(const TOKEN_GROUPS& groups, AdminGroupState& out);

// `argument` as one argument of a command line, quoted as
// CommandLineToArgvW and the run-time read it back: as it stands when it
// holds no blank, tab or quotation mark (and is not empty), otherwise in
// quotation marks with each mark and the backslashes before a mark or the
// end doubled or escaped.
std::wstring QuoteCommandLineArgument(const std::wstring& argument);

}  // namespace kvx
