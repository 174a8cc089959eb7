#include "app/tool_commands.h"

#include "commands/remote_cmd_driver.h"
#include "flash/persistent_copy.h"

namespace kvx {

bool ToolCommands::DoRemoteCmdFile(XmlDocument& document) {
  return kvx::DoRemoteCmdFile(ctx_, document);
}

bool ToolCommands::CopyPersistentData(const std::string& folder) {
  return kvx::CopyPersistentData(ctx_, folder);
}

}  // namespace kvx
