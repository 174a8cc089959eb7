#pragma once
// Application access: a configVA element grants or takes away each of the
// nine applications, for one named account or for every account.
#include "commands/account_commands.h"

namespace kvx {

// Reads the configVA records into nine switches (all granted at first)
// and writes them into each concerned account's INI file. False when the
// folder of an account cannot be found.
bool ApplyConfigVA(ToolContext& ctx, const XMLNodeList& nodes, const AccountList& accounts);

}  // namespace kvx
