#pragma once
// CUserAccountExport: the accounts on the flash volume. Every folder below
// "\QUARLE.000" whose account file can be read is an account; its name is
// the first section name of that file. The default account is the one
// whose file was written last.
#include <string>
#include <vector>

#include "core/tool_context.h"

namespace kvx {

// The prefix of the unique working copies the tool makes in the temp
// folder ("QZRxxxx.tmp", named by the system).
inline constexpr const char* kWorkingCopyPrefix = "QZR";

// Removes the working copies ("QZR*.tmp") that an interrupted run left in
// the temp folder, so that they do not pile up until no unique name is
// left. Only one copy of the tool runs at a time, so none is in use. Links
// are removed, never followed; folders and read-only files stay.
void RemoveLeftoverWorkingCopies(ToolContext& ctx);

struct AccountEntry {
  std::string name;    // the first section name of the account's file
  std::string folder;  // the settings path and the folder's name, no "\" after
};

class CUserAccountExport {
 public:
  explicit CUserAccountExport(ToolContext& ctx) : ctx_(ctx) {}
  virtual ~CUserAccountExport() = default;

  // Fills the list from the folders below `root`'s settings path that hold
  // a readable `ini_name`. Without `include_all`, an account whose first
  // section is "User" and whose "FirstTime" is 0 (or missing) is left out:
  // the default account that has never been used.
  void ExportLocalAccountsLogonedEver(const std::string& root, const std::string& ini_name,
                                      bool include_all);
  // Turns a flash root into the settings path: root + "\QUARLE.000", and a
  // "\" when that folder exists.
  void GetUserSettingsPath(std::string& path);
  // Appends every entry's folder, in list order.
  void GetAccountFolders(std::vector<std::string>& out) const;
  std::string GetDefaultUser() const { return default_user_; }
  const std::vector<AccountEntry>& accounts() const { return accounts_; }
  // False when the last export could not make a working copy it needed
  // (none could be created, or an account's file could not be written to
  // it), so the list may lack accounts that are on the flash.
  bool complete() const { return complete_; }

 private:
  ToolContext& ctx_;
  std::vector<AccountEntry> accounts_;
  std::string default_user_;
  bool complete_ = true;
};

}  // namespace kvx
