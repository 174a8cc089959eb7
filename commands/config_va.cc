#include "commands/config_va.h"

#include "app/path_resolution.h"
#include "core/diag.h"
#include "core/text.h"
#include "service/account_ini.h"

namespace kvx {

namespace {

// The application index of a lower-cased record name; 9 for "singleuser",
// which switches to single-account mode; -1 for any other name.
int IndexOf(const std::string& lower_name) {
  for (int i = 0; i < 9; ++i)
    if (lower_name == kApplicationNames[i]) return i;
  return lower_name == "singleuser" ? 9 : -1;
}

}  // namespace

ConfigVASettings ReadConfigVA(DebugOutput& debug, const XMLNodeList& nodes) {
  ConfigVASettings s;
  int current = -1;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const std::string name = ToLowerAscii(nodes[i].strNodeName);
    Diag(debug, "Total node[%d], current node[%d], and the node name is [%s]",
         static_cast<int>(nodes.size()), static_cast<int>(i), name.c_str());
    const int index = IndexOf(name);
    bool counted = index == 9;
    if (index >= 0) current = index;
    if (index == 9) s.single = true;
    for (const XMLAttrib& a : nodes[i].vecAttribs) {
      const std::string attribute = ToLowerAscii(a.strAttriName);
      if (current >= 0 && current <= 8 && attribute == "action") {
        const std::string value = ToLowerAscii(a.strAttriValue);
        s.flags[current] = value == "0" || value == "false" ? 0 : 1;
        Diag(debug, "The nConfigVA[%d] = %d", current, s.flags[current]);
        counted = true;
      } else if (attribute == "user") {
        s.single_name = a.strAttriValue;
        Diag(debug, "The singleuser name is %s", s.single_name.c_str());
        counted = true;
      }
    }
    s.counted.push_back(counted);
  }
  return s;
}

bool ApplyConfigVA(ToolContext& ctx, const XMLNodeList& nodes, const AccountList& accounts) {
  const ConfigVASettings s = ReadConfigVA(ctx.debug, nodes);
  // The switches of one account; true when they were written, or when the
  // account is passed over.
  auto apply = [&](const std::string& account) {
    if (!IsWorkableAccount(ctx, account)) return true;
    std::string folder;
    if (!GetCurrentUserPath(ctx, account, folder)) return false;
    return WriteAccessSettings(ctx, folder + "\\kvxaccount.ini", s.flags, account);
  };
  if (s.single) return s.single_name.empty() || apply(s.single_name);
  bool made = true;
  for (size_t i = 0; i < accounts.size(); ++i) {
    Diag(ctx.debug, "Total User[%d], current User[%d], and the node name is [%s]",
         static_cast<int>(accounts.size()), static_cast<int>(i), accounts[i].c_str());
    if (!accounts[i].empty()) made = apply(accounts[i]) && made;
  }
  return made;
}

}  // namespace kvx
