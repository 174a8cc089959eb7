#pragma once
// The remote command driver: applies one validated command document to
// the flash module, in a fixed order of steps inside one flash cycle.
#include "commands/account_commands.h"
#include "platform/xml_dom.h"

namespace kvx {

// True when the flash cycle opened and the user folder was found, whatever
// the steps did afterwards; false when either failed, or when the steps
// were cut short by an error of the XML layer or a memory shortage (the
// cycle is then still closed, without the export).
bool DoRemoteCmdFile(ToolContext& ctx, XmlDocument& document);

}  // namespace kvx
