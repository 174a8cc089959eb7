#pragma once
// The /list mode: what the flash module holds, read inside a flash cycle
// that changes nothing on the volume: its roots, its accounts with their
// first-start mark and application switches, and the command-store files
// waiting for the flash system's next start.
#include <string>
#include <vector>

#include "core/tool_context.h"
#include "service/account_ini.h"
#include "xml/node_select.h"

namespace kvx {

struct RunContext;

// One command-store file of the volume.
struct ListedStore {
  std::string path;
  bool present = false;
  bool readable = false;  // it loads as XML
  XMLNodeList settings;   // the records under its cmd element
};

struct ListedAccount {
  std::string name;
  bool is_default = false;
  bool readable = false;  // its file could be read for the settings below
  AccountSettings settings;
};

struct ModuleListing {
  std::string flash_root;
  std::string data_root;    // empty when not found
  std::string system_root;  // empty when not found
  std::string default_account;
  std::vector<ListedAccount> accounts;  // by name
  ListedStore password, power, radio;
  // The accounts' own change-password requests, by account.
  std::vector<std::pair<std::string, ListedStore>> password_changes;
};

// Reads what the volume holds; the flash cycle must be open. Nothing on the
// volume is written: account files are read through working copies in the
// temp folder.
ModuleListing ReadModuleListing(ToolContext& ctx);

// The listing as prose in the language of `strings`, one item a line.
std::string ListingText(StringResources& strings, const ModuleListing& listing);

// The listing as one JSON document with fixed keys.
std::string ListingJson(const ModuleListing& listing);

// Opens a flash cycle, reads the listing into `out` (JSON or prose), and
// closes the cycle. False, `out` untouched, when no cycle opens.
bool ListFlashModule(ToolContext& ctx, bool json, std::string& out);

// The /list mode's run control: the rights of a command file (3, or 10
// after an elevated relaunch with the same arguments), then the listing in
// `out` and 0, or 5 when no flash cycle opens. `args` is the whole command
// line; "/json" (or "--json") after the switch asks for JSON.
int RunListMode(RunContext& ctx, const std::vector<std::string>& args, std::string& out);

}  // namespace kvx
