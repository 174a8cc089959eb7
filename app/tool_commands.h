#pragma once
#include "app/command_processor.h"
#include "core/tool_context.h"

namespace kvx {

// The command processing of the tool: the remote command driver and the
// persistent data copy, over the tool's context.
class ToolCommands : public CommandProcessor {
 public:
  explicit ToolCommands(ToolContext& ctx) : ctx_(ctx) {}
  bool DoRemoteCmdFile(XmlDocument& document) override;
  bool CopyPersistentData(const std::string& folder) override;
  bool ListFlashModule(bool json, std::string& listing) override;

 private:
  ToolContext& ctx_;
};

}  // namespace kvx
