#include "app/tool_commands.h"

#include "app/list_mode.h"
#include "commands/remote_cmd_driver.h"
#include "flash/persistent_copy.h"
#include "service/user_account_export.h"

namespace kvx {

// Each run on the module first removes what an interrupted run left in the
// temp folder; the run holds the tool's single-instance guard by then.
bool ToolCommands::DoRemoteCmdFile(XmlDocument& document) {
  RemoveLeftoverWorkingCopies(ctx_);
  return kvx::DoRemoteCmdFile(ctx_, document);
}

bool ToolCommands::ListFlashModule(bool json, std::string& listing) {
  RemoveLeftoverWorkingCopies(ctx_);
  return kvx::ListFlashModule(ctx_, json, listing);
}

bool ToolCommands::CopyPersistentData(const std::string& folder) {
  RemoveLeftoverWorkingCopies(ctx_);
  return kvx::CopyPersistentData(ctx_, folder);
}

}  // namespace kvx
