#pragma once
// The account commands of a command file: delete, reset, request a
// password change, and copy persistent data, for one named account
// (singleUser) or for every account of the list (allUser).
#include <string>
#include <vector>

#include "core/tool_context.h"
#include "xml/node_select.h"

namespace kvx {

using AccountList = std::vector<std::string>;

// The command type of an action (exact comparison): 0 deleteUser,
// 1 resetUser, 2 changePassword, 3 copyPersistentData, -1 anything else.
int GetCmdType(const std::string& action);

// What one singleUser or allUser record asks. A record that lacks one of
// the attributes keeps what an earlier record of the same list set.
struct AccountCommand {
  std::string user;  // "User" for "user" in any letter case; empty for allUser
  std::string action;
};

// One command per singleUser record, in order. A command whose user or
// action is still empty is not run.
std::vector<AccountCommand> ReadSingleUserCommands(const XMLNodeList& nodes);
// One command per allUser record, in order. A command whose action is
// still empty is not run.
std::vector<AccountCommand> ReadAllUserCommands(const XMLNodeList& nodes);

// Whether a singleUser command with `action` runs without the check that
// its account is on the flash: "copyPersistentData" in any letter case.
bool SkipsAccountCheck(const std::string& action);

// Whether an entry of the list equals `name` exactly.
bool IsAccountInList(const std::string& name, const AccountList& accounts);

// Whether the commands may work in the folder of `account`. An account
// whose name could lead out of the user folder (the first section of a
// hostile account file) is passed over, with a line on the debugger
// output; the other accounts are still worked on.
bool IsWorkableAccount(ToolContext& ctx, const std::string& account);

// The two below run every record, going on after a failure, and are true
// when every command that ran made the change it asked for. A command with
// nothing to act on (an account not on the flash, a passed-over account)
// and an unsupported action (its message box) fail nothing.

// Runs the singleUser records.
bool SpliteFromSingleUserNode(ToolContext& ctx, const XMLNodeList& nodes,
                              const AccountList& accounts);
// Runs the allUser records for every account of the list.
bool SpliteFromAllUserNode(ToolContext& ctx, const XMLNodeList& nodes, const AccountList& accounts);

// One command for one account; false for an unsupported action (after the
// message box).
bool DoRemoteCmd(ToolContext& ctx, const std::string& account, const std::string& action);
// One command for every account; true when every call succeeded.
bool DoRemoteCmdForAll(ToolContext& ctx, const AccountList& accounts, const std::string& action);

// Removes the account's folder, its account file last, so that a run cut
// short leaves an account that the next deleteUser finds and finishes. The
// default account "User" is marked for its first start and reset instead.
// True when the folder is gone (for "User": marked and reset).
bool DoDeleteUserCmd(ToolContext& ctx, const std::string& account);
// Leaves the change-password request; true when it was written, or when
// the account's folder is gone (deleted earlier in the run).
bool DoChangePasswordCmd(ToolContext& ctx, const std::string& account);

}  // namespace kvx
