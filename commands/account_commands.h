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

// Runs the singleUser records; true when at least one command ran.
bool SpliteFromSingleUserNode(ToolContext& ctx, const XMLNodeList& nodes,
                              const AccountList& accounts);
// Runs the allUser records for every account of the list; always false.
bool SpliteFromAllUserNode(ToolContext& ctx, const XMLNodeList& nodes, const AccountList& accounts);

// One command for one account; false for an unsupported action (after the
// message box).
bool DoRemoteCmd(ToolContext& ctx, const std::string& account, const std::string& action);
// One command for every account; true when every call succeeded.
bool DoRemoteCmdForAll(ToolContext& ctx, const AccountList& accounts, const std::string& action);

bool DoDeleteUserCmd(ToolContext& ctx, const std::string& account);
bool DoChangePasswordCmd(ToolContext& ctx, const std::string& account);

}  // namespace kvx
