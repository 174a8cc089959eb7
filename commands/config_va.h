#pragma once
// Application access: a configVA element grants or takes away each of the
// nine applications, for one named account or for every account.
#include "commands/account_commands.h"

namespace kvx {

// The application names of configVA children, by application index, in
// the order of the nine switches.
inline constexpr const char* kApplicationNames[9] = {"mail", "web",       "chat",
                                                     "voip", "rdesktop",  "icaclient",
                                                     "vmware", "photo",   "music"};

// What the configVA records ask, read as the settings are applied.
struct ConfigVASettings {
  int flags[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};  // 1 grants, 0 takes away
  bool single = false;      // a singleuser child: one account only
  std::string single_name;  // the last user attribute of any child
  // Per record: whether it changed anything (a switch, the single-account
  // mode or the name). An unknown child's action counts for the
  // application named before it.
  std::vector<bool> counted;
};

// Reads the configVA records, in order, into the nine switches.
ConfigVASettings ReadConfigVA(DebugOutput& debug, const XMLNodeList& nodes);

// Reads the configVA records into nine switches (all granted at first)
// and writes them into each concerned account's INI file. An account that
// is passed over (IsWorkableAccount) does not keep the others from being
// written. False when the folder of an account cannot be found or its file
// could not be written; the other accounts are written all the same.
bool ApplyConfigVA(ToolContext& ctx, const XMLNodeList& nodes, const AccountList& accounts);

}  // namespace kvx
