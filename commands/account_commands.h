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
