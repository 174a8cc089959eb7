#include "app/list_mode.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "app/entry.h"
#include "app/mode_text.h"
#include "app/path_resolution.h"
#include "core/diag.h"
#include "core/json.h"
#include "core/path_exists.h"
#include "core/text.h"
#include "commands/config_va.h"
#include "flash/root_path.h"
#include "platform/string_table.h"
#include "service/user_account_export.h"
#include "xml/command_store.h"
#include "xml/xml_loader.h"

namespace kvx {

namespace {

constexpr int kResultDriverFailed = 5;

// Loads a command-store file without validation and takes the records below
// its cmd element (`query`). A file that is missing or does not load as
// XML has no records.
ListedStore ReadStore(ToolContext& ctx, const std::string& path, const char* query) {
  ListedStore store;
  store.path = path;
  if (path.empty() || !PathExists(ctx.files, ctx.debug, path)) return store;
  store.present = true;
  std::unique_ptr<XmlDocument> document;
  for (XmlClassVersion v : {XmlClassVersion::k60, XmlClassVersion::k30, XmlClassVersion::k40,
                            XmlClassVersion::k26})
    if ((document = ctx.xml.CreateDocument(v))) break;
  if (!document) return store;
  document->SetAsync(false);
  // What lies on the flash is data: nothing outside the file is fetched.
  document->SetResolveExternals(false);
  document->Load(path);
  if (document->ParseError().code != 0) return store;
  store.readable = true;
  store.settings = SelectNodes(*document, ctx.debug, query);
  return store;
}

const char* const kPayload = "/cmdstore/cmd/*";
const char* const kPowerPayload = "/cmdstore/cmd/configPower/*";

}  // namespace

ModuleListing ReadModuleListing(ToolContext& ctx) {
  ModuleListing l;
  l.flash_root = ctx.state.flash_root;
  std::string root;
  if (GetRootPathFromDataPath(ctx, root)) l.data_root = root;
  root.clear();
  if (GetRootPathFromSysPath(ctx, root)) l.system_root = root;

  CUserAccountExport accounts(ctx);
  accounts.ExportLocalAccountsLogonedEver(l.flash_root, "kvxaccount.ini", true);
  l.default_account = accounts.GetDefaultUser();
  for (const AccountEntry& entry : accounts.accounts()) {
    ListedAccount a;
    a.name = entry.name;
    a.is_default = entry.name == l.default_account;
    a.readable = ReadAccountSettings(ctx, entry.folder + "\\kvxaccount.ini", entry.name, a.settings);
    l.accounts.push_back(a);
    // Where the change-password command leaves the account's request.
    std::string folder;
    if (!GetCurrentUserPath(ctx, entry.name, folder)) folder = entry.folder;
    ListedStore request = ReadStore(ctx, JoinPath(folder, "cmds") + "\\password.xml", kPayload);
    if (request.present) l.password_changes.emplace_back(entry.name, std::move(request));
  }
  std::sort(l.accounts.begin(), l.accounts.end(),
            [](const ListedAccount& x, const ListedAccount& y) { return x.name < y.name; });
  std::sort(l.password_changes.begin(), l.password_changes.end(),
            [](const auto& x, const auto& y) { return x.first < y.first; });

  std::string path;
  if (GetConfigPasswordPath(ctx, path)) l.password = ReadStore(ctx, path, kPayload);
  path.clear();
  if (GetConfigPowerPath(ctx, path)) l.power = ReadStore(ctx, path, kPowerPayload);
  path.clear();
  if (GetConfigRadioPath(ctx, path)) l.radio = ReadStore(ctx, path, kPayload);
  return l;
}

std::string ListingText(StringResources& strings, const ModuleListing& l) {
  const std::string none = strings.Load(kListNone);
  auto or_none = [&](const std::string& s) { return s.empty() ? none : s; };
  std::string out = ModeText(strings, kListRoots, {or_none(l.flash_root), or_none(l.data_root),
                                                   or_none(l.system_root)}) + "\n";
  out += ModeText(strings, kListAccounts, {std::to_string(l.accounts.size()), or_none(l.default_account)}) + "\n";
  for (const ListedAccount& a : l.accounts) {
    std::string switches;
    for (int i = 0; i < 9; ++i) {
      const std::string value = !a.settings.has_switch[i]     ? none
                                : a.settings.switches[i] != 0 ? strings.Load(kListOn)
                                                              : strings.Load(kListOff);
      switches += (i ? ", " : "") + std::string(kApplicationNames[i]) + " " + value;
    }
    out += "  " + ModeText(strings, kListAccount, {a.name, or_none(a.settings.first_time), switches}) + "\n";
  }
  out += strings.Load(kListWaiting) + "\n";
  bool waiting = false;
  auto store = [&](const ListedStore& s, int id) {
    if (!s.present) return;
    waiting = true;
    out += "  " + (s.readable ? ModeText(strings, id, {RecordsText(s.settings)})
                              : ModeText(strings, kListUnreadable, {s.path})) + "\n";
  };
  store(l.password, kPasswordSettings);
  store(l.power, kPowerSettings);
  store(l.radio, kRadioSettings);
  for (const auto& [account, request] : l.password_changes) {
    waiting = true;
    out += "  " + (request.readable ? ModeText(strings, kListPasswordChange, {account})
                                    : ModeText(strings, kListUnreadable, {request.path})) + "\n";
  }
  if (!waiting) out += "  " + none + "\n";
  return out;
}

namespace {

std::string JsonOrNull(const std::string& s) { return s.empty() ? "null" : JsonString(s); }

std::string StoreJson(const ListedStore& s, const std::string& indent) {
  if (!s.present) return "null";
  std::string j = "{\"file\": " + JsonString(s.path) + ", \"readable\": " + (s.readable ? "true" : "false") +
                  ", \"settings\": [";
  for (size_t i = 0; i < s.settings.size(); ++i) {
    const XMLNode& r = s.settings[i];
    j += (i ? "," : "") + std::string("\n") + indent + "  {\"name\": " + JsonString(r.strNodeName) +
         ", \"attributes\": {";
    for (size_t k = 0; k < r.vecAttribs.size(); ++k)
      j += (k ? ", " : "") + JsonString(r.vecAttribs[k].strAttriName) + ": " +
           JsonString(r.vecAttribs[k].strAttriValue);
    j += "}}";
  }
  return j + (s.settings.empty() ? "]}" : "\n" + indent + "]}");
}

}  // namespace

std::string ListingJson(const ModuleListing& l) {
  std::string j = "{\n";
  j += "  \"roots\": {\"flash\": " + JsonOrNull(l.flash_root) + ", \"data\": " + JsonOrNull(l.data_root) +
       ", \"system\": " + JsonOrNull(l.system_root) + "},\n";
  j += "  \"defaultAccount\": " + JsonOrNull(l.default_account) + ",\n";
  j += "  \"accounts\": [";
  for (size_t i = 0; i < l.accounts.size(); ++i) {
    const ListedAccount& a = l.accounts[i];
    j += std::string(i ? "," : "") + "\n    {\"name\": " + JsonString(a.name) +
         ", \"default\": " + (a.is_default ? "true" : "false") +
         ", \"readable\": " + (a.readable ? "true" : "false") +
         ", \"firstTime\": " + JsonOrNull(a.settings.first_time) + ",\n     \"applications\": {";
    for (int k = 0; k < 9; ++k)
      j += std::string(k ? ", " : "") + JsonString(kApplicationNames[k]) + ": " +
           (a.settings.has_switch[k] ? std::to_string(a.settings.switches[k]) : "null");
    j += "}}";
  }
  j += l.accounts.empty() ? "],\n" : "\n  ],\n";
  j += "  \"commandStores\": {\n";
  j += "    \"password\": " + StoreJson(l.password, "    ") + ",\n";
  j += "    \"power\": " + StoreJson(l.power, "    ") + ",\n";
  j += "    \"radio\": " + StoreJson(l.radio, "    ") + ",\n";
  j += "    \"passwordChanges\": [";
  for (size_t i = 0; i < l.password_changes.size(); ++i)
    j += std::string(i ? "," : "") + "\n      {\"account\": " + JsonString(l.password_changes[i].first) +
         ", \"request\": " + StoreJson(l.password_changes[i].second, "      ") + "}";
  j += l.password_changes.empty() ? "]\n" : "\n    ]\n";
  j += "  }\n}\n";
  return j;
}

bool ListFlashModule(ToolContext& ctx, bool json, std::string& out) {
  int status = 3;
  if (!ctx.flash.BeginFlash(status)) return false;
  // Reading changes nothing, so the companion service is not asked to
  // export: the cycle only opens and closes.
  ModuleListing listing;
  try {
    listing = ReadModuleListing(ctx);
  } catch (const std::exception& e) {
    // The module is never left mounted by an error.
    Diag(ctx.debug, "The listing was cut short: %s", e.what());
    ctx.flash.EndFlash();
    return false;
  }
  ctx.flash.EndFlash();
  out = json ? ListingJson(listing) : ListingText(ctx.strings, listing);
  return true;
}

int RunListMode(RunContext& ctx, const std::vector<std::string>& args, std::string& out) {
  bool json = false;
  for (size_t i = 2; i < args.size(); ++i)
    if (IsJsonArgument(args[i])) json = true;
  const int rights = CheckRunRights(ctx, std::vector<std::string>(args.begin() + 1, args.end()));
  if (rights != 0) return rights;
  return ctx.commands.ListFlashModule(json, out) ? 0 : kResultDriverFailed;
}

}  // namespace kvx
