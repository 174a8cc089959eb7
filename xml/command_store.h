#pragma once
// Command-store files: the password, power and radio settings, and one
// account's change-password request, left on the flash volume as small XML
// documents (root cmdstore, one cmd child) for the flash system to pick up.
#include <string>

#include "core/tool_context.h"
#include "xml/node_select.h"

namespace kvx {

// The paths of the settings' files in the cmds folder of the system root.
// False, `path` untouched, when the system root is not found.
bool GetConfigPasswordPath(ToolContext& ctx, std::string& path);
bool GetConfigPowerPath(ToolContext& ctx, std::string& path);
bool GetConfigRadioPath(ToolContext& ctx, std::string& path);

// The driver's steps: each writes its file from the node list of its
// query; false when the list is empty or nothing was written.
bool ApplyConfigPassword(ToolContext& ctx, const XMLNodeList& nodes);
bool ApplyConfigPower(ToolContext& ctx, const XMLNodeList& nodes);
bool ApplyConfigRadio(ToolContext& ctx, const XMLNodeList& nodes);

// The writers. True when the file was saved; false when nothing was
// written (the document could not be built, its folder is missing and
// cannot be created, or it could not be saved). A saved file replaces the
// old one whole.
bool WritePasswordCmdStore(ToolContext& ctx, const std::string& path, XMLNode record);
bool WritePowerCmdStore(ToolContext& ctx, const XMLNodeList& nodes, const std::string& path);
bool WriteRadioCmdStore(ToolContext& ctx, const XMLNodeList& nodes, const std::string& path);
bool WriteChangePasswordCmdStore(ToolContext& ctx, const std::string& path,
                                 const std::string& user);

}  // namespace kvx
