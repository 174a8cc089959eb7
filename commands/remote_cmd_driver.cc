#include "commands/remote_cmd_driver.h"

#include <exception>

#include "app/path_resolution.h"
#include "commands/config_va.h"
#include "core/diag.h"
#include "core/path_exists.h"
#include "service/account_ini.h"
#include "service/user_account_export.h"
#include "xml/command_store.h"

namespace kvx {

namespace {

// The accounts that have a "kvxaccount.ini" in their folder, in the
// export's order; the default account is left out while it has never been
// used. `made` turns false when the list may lack accounts (their working
// copies could not be written), since the commands then miss them.
AccountList FillAccountList(ToolContext& ctx, CUserAccountExport& accounts, bool& made) {
  accounts.ExportLocalAccountsLogonedEver("~:", "kvxaccount.ini", false);
  made = accounts.complete() && made;
  AccountList list;
  for (const AccountEntry& entry : accounts.accounts())
    if (PathExists(ctx.files, ctx.debug, entry.folder + "\\" + "kvxaccount.ini"))
      list.push_back(entry.name);
  return list;
}

std::string Joined(const AccountList& list) {
  std::string text;
  for (const std::string& name : list) text += name + ",";
  return text;
}

// Steps 3 to 11, inside the open cycle and with the user folder known.
// Every step runs, whatever the one before it did; true when each made the
// changes it was asked for.
bool RunSteps(ToolContext& ctx, XmlDocument& document) {
  CUserAccountExport accounts(ctx);
  bool made = true;
  AccountList list = FillAccountList(ctx, accounts, made);
  Diag(ctx.debug, "Before SingleUser or All User CMD, The accounts are %s ", Joined(list).c_str());

  XMLNodeList nodes = SelectNodes(document, ctx.debug, kSingleUserQuery);
  if (!nodes.empty()) {
    ctx.debug.Write("Going to SpliteFromSingleUserNode.");
    made = SpliteFromSingleUserNode(ctx, nodes, list) && made;
    made = WriteAccountINIForRemote(ctx) && made;
  }
  nodes = SelectNodes(document, ctx.debug, kAllUserQuery);
  if (!nodes.empty()) {
    ctx.debug.Write("Going to SpliteFromAllUserNode.");
    // Still the list from before the deletions.
    made = SpliteFromAllUserNode(ctx, nodes, list) && made;
    made = WriteAccountINIForRemote(ctx) && made;
  }

  list = FillAccountList(ctx, accounts, made);
  Diag(ctx.debug, "After SingleUser or All User CMD, The accounts are %s ", Joined(list).c_str());

  ctx.debug.Write("Begin configVA.");
  nodes = SelectNodes(document, ctx.debug, kConfigVAQuery);
  if (!nodes.empty()) made = ApplyConfigVA(ctx, nodes, list) && made;
  ctx.debug.Write("End configVA.");

  nodes = SelectNodes(document, ctx.debug, kConfigPasswordQuery);
  if (!nodes.empty()) made = ApplyConfigPassword(ctx, nodes) && made;
  nodes = SelectNodes(document, ctx.debug, kConfigPowerQuery);
  if (!nodes.empty()) made = ApplyConfigPower(ctx, nodes) && made;
  nodes = SelectNodes(document, ctx.debug, kConfigRadioQuery);
  if (!nodes.empty()) made = ApplyConfigRadio(ctx, nodes) && made;

  ctx.flash.NotifyServiceExport();
  if (!made) ctx.debug.Write("A change the commands asked for could not be made.");
  return made;
}

}  // namespace

bool DoRemoteCmdFile(ToolContext& ctx, XmlDocument& document) {
  ctx.debug.Write("BeginFlash is starting ....");
  int status = 3;
  if (!ctx.flash.BeginFlash(status)) return false;
  ctx.debug.Write("BeginFlash is End ....");
  std::string folder;
  if (!GetUserFolderPathEx(ctx, folder)) {
    ctx.debug.Write("enter to !GetUserFolderPathEx(strUsersFolderPath)");
    ctx.flash.EndFlash();
    return false;
  }
  Diag(ctx.debug, "GetUserFolderPathEx's path is %s", folder.c_str());
  bool made = false;
  try {
    made = RunSteps(ctx, document);
  } catch (const std::exception& e) {
    // The module is never left mounted by an error.
    Diag(ctx.debug, "The remote commands were cut short: %s", e.what());
    ctx.flash.EndFlash();
    return false;
  }
  ctx.flash.EndFlash();
  return made;
}

}  // namespace kvx
