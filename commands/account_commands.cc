#include "commands/account_commands.h"

#include <algorithm>

#include "app/path_resolution.h"
#include "core/diag.h"
#include "core/path_exists.h"
#include "core/text.h"
#include "flash/persistent_copy.h"
#include "service/account_ini.h"
#include "xml/command_store.h"

namespace kvx {

namespace {

void ShowUnsupported(ToolContext& ctx) {
  ctx.message_box.Show(ctx.strings.Load(108), ctx.strings.Load(109));
}

}  // namespace

int GetCmdType(const std::string& action) {
  if (action == "deleteUser") return 0;
  if (action == "resetUser") return 1;
  if (action == "changePassword") return 2;
  if (action == "copyPersistentData") return 3;
  return -1;
}

bool IsAccountInList(const std::string& name, const AccountList& accounts) {
  return std::find(accounts.begin(), accounts.end(), name) != accounts.end();
}

std::vector<AccountCommand> ReadSingleUserCommands(const XMLNodeList& nodes) {
  // Carried from record to record: a record without one of the two
  // attributes keeps what an earlier record set.
  std::vector<AccountCommand> commands;
  AccountCommand current;
  for (const XMLNode& record : nodes) {
    for (const XMLAttrib& a : record.vecAttribs) {
      if (a.strAttriName == "action") {
        current.action = a.strAttriValue;
      } else if (a.strAttriName == "user") {
        current.user = a.strAttriValue;
        if (EqualsIgnoringCase(current.user, "user")) current.user = "User";
      }
    }
    commands.push_back(current);
  }
  return commands;
}

std::vector<AccountCommand> ReadAllUserCommands(const XMLNodeList& nodes) {
  std::vector<AccountCommand> commands;
  AccountCommand current;
  for (const XMLNode& record : nodes) {
    for (const XMLAttrib& a : record.vecAttribs)
      if (a.strAttriName == "action") current.action = a.strAttriValue;
    commands.push_back(current);
  }
  return commands;
}

bool SkipsAccountCheck(const std::string& action) {
  return EqualsIgnoringCase(action, "copyPersistentData");
}

bool IsWorkableAccount(ToolContext& ctx, const std::string& account) {
  if (!IsSafeAccountName(account)) {
    Diag(ctx.debug, "The account %s is passed over: its name could lead out of the user folder.",
         account.c_str());
    return false;
  }
  return true;
}

bool SpliteFromSingleUserNode(ToolContext& ctx, const XMLNodeList& nodes,
                              const AccountList& accounts) {
  bool made = true;
  for (const AccountCommand& c : ReadSingleUserCommands(nodes)) {
    if (c.user.empty() || c.action.empty()) continue;
    Diag(ctx.debug, "The %s account's action is %s", c.user.c_str(), c.action.c_str());
    // The copy action does not work in the account's folder.
    const bool copy = SkipsAccountCheck(c.action);
    if (!copy && (!IsAccountInList(c.user, accounts) || !IsWorkableAccount(ctx, c.user))) continue;
    ctx.debug.Write("The account is existed, and DoRemoteCmd");
    // An unsupported action has shown its message box; it made no change
    // that could fail.
    if (!DoRemoteCmd(ctx, c.user, c.action) && GetCmdType(c.action) >= 0) made = false;
  }
  return made;
}

bool SpliteFromAllUserNode(ToolContext& ctx, const XMLNodeList& nodes, const AccountList& accounts) {
  bool made = true;
  for (const AccountCommand& c : ReadAllUserCommands(nodes)) {
    if (c.action.empty()) continue;
    const int type = GetCmdType(c.action);
    if (!DoRemoteCmdForAll(ctx, accounts, c.action) && type >= 0 && type <= 2) made = false;
  }
  return made;
}

bool DoRemoteCmd(ToolContext& ctx, const std::string& account, const std::string& action) {
  switch (GetCmdType(action)) {
    case 0: {
      ctx.debug.Write("DoDeleteUserCmd is starting...");
      const bool ok = DoDeleteUserCmd(ctx, account);
      if (ok) ctx.flash.NotifyServiceUsersName("kvxaccount.ini");
      return ok;
    }
    case 1:
      ctx.debug.Write("DoResetUserCmd is starting...");
      return DoResetUserCmd(ctx, account);
    case 2:
      ctx.debug.Write("DoChangePasswordCmd is starting...");
      return DoChangePasswordCmd(ctx, account);
    case 3:
      ctx.debug.Write("DoCopyPersistentData is starting...");
      return DoCopyPersistentData(ctx, account);
    default:
      ShowUnsupported(ctx);
      return false;
  }
}

bool DoRemoteCmdForAll(ToolContext& ctx, const AccountList& accounts, const std::string& action) {
  const int type = GetCmdType(action);
  if (type < 0 || type > 2) {
    ShowUnsupported(ctx);
    return false;
  }
  bool all = true;
  for (const std::string& account : accounts) {
    if (!IsWorkableAccount(ctx, account)) continue;
    bool ok = false;
    if (type == 0) ok = DoDeleteUserCmd(ctx, account);
    if (type == 1) ok = DoResetUserCmd(ctx, account);
    if (type == 2) ok = DoChangePasswordCmd(ctx, account);
    all = ok && all;
  }
  if (type == 0 && all) ctx.flash.NotifyServiceUsersName("kvxaccount.ini");
  return all;
}

bool DoDeleteUserCmd(ToolContext& ctx, const std::string& account) {
  std::string folder;
  if (!GetCurrentUserPath(ctx, account, folder)) return false;
  Diag(ctx.debug, "GetCurrentUserPath is %s ", folder.c_str());
  if (account != "User") {
    // The account file goes last: as long as anything else is left, the
    // folder stays an account that the next deleteUser finishes.
    ClearFolder(ctx, folder, "kvxaccount.ini");
    ctx.files.RemoveDirectory(folder);
    ctx.flash.NotifyServiceExport();
    const bool gone = ctx.files.GetAttributes(folder) == kInvalidAttributes;
    if (!gone) Diag(ctx.debug, "The folder %s could not be removed whole.", folder.c_str());
    return gone;
  }
  // The default account is never removed: it is reset instead.
  const std::string ini = folder + "\\kvxaccount.ini";
  const bool marked = FitsProfileBuffer(ini) && MarkFirstTime(ctx, ini);
  return DoResetUserCmd(ctx, "User") && marked;
}

bool DoChangePasswordCmd(ToolContext& ctx, const std::string& account) {
  std::string path;
  if (!GetCurrentUserPath(ctx, account, path) || !StaysInItsFolder(ctx.files, ctx.debug, path))
    return false;
  // An account deleted earlier in the run has nobody left to ask.
  if (ctx.files.GetAttributes(path) == kInvalidAttributes) return true;
  path = JoinPath(path, "cmds") + "\\password.xml";
  return WriteChangePasswordCmdStore(ctx, path, account);
}

}  // namespace kvx
