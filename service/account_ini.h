#pragma once
// The account files on the flash: each account's "kvxaccount.ini" and the
// combined "kvxaccounts.ini" at the volume's top. Every edit converts the
// file to a UTF-16 working copy, applies the profile calls, and converts it
// back to UTF-8.
#include <string>

#include "core/tool_context.h"

namespace kvx {

// The nine application keys, in their order.
inline constexpr const char* kApplicationKeys[9] = {"MAIL",      "WEB",    "CHAT",
                                                    "VOIP",      "RDESKTOP", "ICACLIENT",
                                                    "VMWARE",    "PHOTO",  "MUSIC"};

// Rebuilds "~:\kvxaccounts.ini" from every account's file. False, with
// the old combined file left as it was, when the new one could not be
// built or put in place.
bool WriteAccountINIForRemote(ToolContext& ctx);

// The edits below work on a fresh working copy and put the file back whole;
// each is false, the file left as it was, when a step fails (a read-only
// file among them). A missing file is left missing, and that is no failure.

// Puts the account's keyboard and language back to their restore values
// and allows all nine applications.
bool ResetAccountIni(ToolContext& ctx, const std::string& path, const std::string& section);

// Writes the nine application switches of the account.
bool WriteAccessSettings(ToolContext& ctx, const std::string& path, const int flags[9],
                         const std::string& section);

// Sets "FirstTime" of section "User" to 1 in the file at `path`.
bool MarkFirstTime(ToolContext& ctx, const std::string& path);

// One account's settings as its file holds them.
struct AccountSettings {
  std::string first_time;     // "FirstTime" of the account's section; empty when missing
  bool has_switch[9] = {};    // which of the nine application keys are there
  int switches[9] = {};       // their values, read as the profile functions read integers
};

// Reads `section` of the account file at `path` through a working copy of
// its own in the temp folder; the file itself is only read. False, `out`
// left empty, when it cannot be read.
bool ReadAccountSettings(ToolContext& ctx, const std::string& path, const std::string& section,
                         AccountSettings& out);

// Whether `text` fits a 256-character buffer with its terminator: what
// ResetAccountIni's callers must check of the path and the section.
bool FitsProfileBuffer(const std::string& text);

}  // namespace kvx
