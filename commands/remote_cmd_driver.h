#pragma once
// The remote command driver: applies one validated command document to
// the flash module, in a fixed order of steps inside one flash cycle.
#include "commands/account_commands.h"
#include "platform/xml_dom.h"

namespace kvx {

// The driver's queries, in the order of its steps. The first three take
// every such element; the last three only the last one of the document.
inline constexpr const char* kSingleUserQuery = "//singleUser";
inline constexpr const char* kAllUserQuery = "//allUser";
inline constexpr const char* kConfigVAQuery = "(//configVA)";
inline constexpr const char* kConfigPasswordQuery = "(//configPassword)[last()]";
inline constexpr const char* kConfigPowerQuery = "(//configPower)[last()]";
inline constexpr const char* kConfigRadioQuery = "(//configRadio)[last()]";

// True when the flash cycle opened, the user folder was found and every
// step made the changes it was asked for. False when the cycle or the
// folder failed; when a step could not make a change (a write, rename,
// delete or copy that failed), after every later step has still run; or
// when the steps were cut short by an error of the XML layer or a memory
// shortage (the cycle is then still closed, without the export).
bool DoRemoteCmdFile(ToolContext& ctx, XmlDocument& document);

}  // namespace kvx
