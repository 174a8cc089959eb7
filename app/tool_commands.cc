#include "app/tool_commands.h"

#include "app/list_mode.h"
#include "commands/remote_cmd_driver.h"
#include "flash/persistent_copy.h"

namespace kvx {

bool ToolCommands::DoRemoteCmdFile(XmlDocument& document) {
  return kvx::DoRemoteCmdFile(ctx_, document);
}

bool ToolCommands::ListFlashModule(bool json, std::string& listing) {
  return kvx::ListFlashModule(ctx_, json, listing);
}

bool ToolCommands::CopyPersistentData(const std::string& folder) {
  return kvx::CopyPersistentData(ctx_, folder);
}

}  // namespace kvx
