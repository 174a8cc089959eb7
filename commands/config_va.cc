#include "commands/config_va.h"

#include "app/path_resolution.h"
#include "core/diag.h"
#include "core/text.h"
#include "service/account_ini.h"

namespace kvx {

namespace {

// The record names, by application index; "singleuser" (9) switches to
// single-account mode.
const char* const kRecordNames[10] = {"mail",   "web",   "chat",  "voip",  "rdesktop",
                                      "icaclient", "vmware", "photo", "music", "singleuser"};

int IndexOf(const std::string& lower_name) {
  for (int i = 0; i < 10; ++i)
    if (lower_name == kRecordNames[i]) return i;
  return -1;
}

}  // namespace

bool ApplyConfigVA(ToolContext& ctx, const XMLNodeList& nodes, const AccountList& accounts) {
  int flags[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  int current = -1;
  bool single = false;
  std::string single_name;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const std::string name = ToLowerAscii(nodes[i].strNodeName);
    Diag(ctx.debug, "Total node[%d], current node[%d], and the node name is [%s]",
         static_cast<int>(nodes.size()), static_cast<int>(i), name.c_str());
    const int index = IndexOf(name);
    if (index >= 0) current = index;
    if (index == 9) single = true;
    for (const XMLAttrib& a : nodes[i].vecAttribs) {
      const std::string attribute = ToLowerAscii(a.strAttriName);
      if (current >= 0 && current <= 8 && attribute == "action") {
        const std::string value = ToLowerAscii(a.strAttriValue);
        flags[current] = value == "0" || value == "false" ? 0 : 1;
        Diag(ctx.debug, "The nConfigVA[%d] = %d", current, flags[current]);
      } else if (attribute == "user") {
        single_name = a.strAttriValue;
        Diag(ctx.debug, "The singleuser name is %s", single_name.c_str());
      }
    }
  }
  if (single) {
    if (!single_name.empty()) {
      std::string folder;
      if (!GetCurrentUserPath(ctx, single_name, folder)) return false;
      WriteAccessSettings(ctx, folder + "\\kvxaccount.ini", flags, single_name);
    }
    return true;
  }
  for (size_t i = 0; i < accounts.size(); ++i) {
    Diag(ctx.debug, "Total User[%d], current User[%d], and the node name is [%s]",
         static_cast<int>(accounts.size()), static_cast<int>(i), accounts[i].c_str());
    if (accounts[i].empty()) continue;
    std::string folder;
    if (!GetCurrentUserPath(ctx, accounts[i], folder)) return false;
    WriteAccessSettings(ctx, folder + "\\kvxaccount.ini", flags, accounts[i]);
  }
  return true;
}

}  // namespace kvx
