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
// used.
AccountList FillAccountList(ToolContext& ctx, CUserAccountExport& accounts) {
  accounts.ExportLocalAccountsLogonedEver("~:", "kvxaccount.ini", false);
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
void RunSteps(ToolContext& ctx, XmlDocument& document) {
  CUserAccountExport accounts(ctx);
  AccountList list = FillAccountList(ctx, accounts);
  Diag(ctx.debug, "Before SingleUser or All User CMD, The accounts are %s ", Joined(list).c_str());

  XMLNodeList nodes = SelectNodes(document, ctx.debug, kSingleUserQuery);
  if (!nodes.empty()) {
    ctx.debug.Write("Going to SpliteFromSingleUserNode.");
    SpliteFromSingleUserNode(ctx, nodes, list);
    WriteAccountINIForRemote(ctx);
  }
  nodes = SelectNodes(document, ctx.debug, kAllUserQuery);
  if (!nodes.empty()) {
    ctx.debug.Write("Going to SpliteFromAllUserNode.");
    SpliteFromAllUserNode(ctx, nodes, list);  // still the list from before the deletions
    WriteAccountINIForRemote(ctx);
  }

  list = FillAccountList(ctx, accounts);
  Diag(ctx.debug, "After SingleUser or All User CMD, The accounts are %s ", Joined(list).c_str());

  ctx.debug.Write("Begin configVA.");
  nodes = SelectNodes(document, ctx.debug, kConfigVAQuery);
  if (!nodes.empty()) ApplyConfigVA(ctx, nodes, list);
  ctx.debug.Write("End configVA.");

  nodes = SelectNodes(document, ctx.debug, kConfigPasswordQuery);
  if (!nodes.empty()) ApplyConfigPassword(ctx, nodes);
  nodes = SelectNodes(document, ctx.debug, kConfigPowerQuery);
  if (!nodes.empty()) ApplyConfigPower(ctx, nodes);
  nodes = SelectNodes(document, ctx.debug, kConfigRadioQuery);
  if (!nodes.empty()) ApplyConfigRadio(ctx, nodes);

  ctx.flash.NotifyServiceExport();
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
  try {
    RunSteps(ctx, document);
  } catch (const std::exception& e) {
    // The module is never left mounted by an error.
    Diag(ctx.debug, "The remote commands were cut short: %s", e.what());
    ctx.flash.EndFlash();
    return false;
  }
  ctx.flash.EndFlash();
  return true;
}

}  // namespace kvx
