// QZRRemote: applies one remote command file to the instant-on flash
// module, or copies the flash system's user folder to the PC.
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/log_file.h"
#include "app/tool_runtime.h"
#include "app/tool_commands.h"
#include "core/tool_context.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  std::unique_ptr<kvx::Platform> platform = kvx::CreatePlatform();
  kvx::Platform& p = *platform;

  // Asking for help runs nothing and leaves the history log alone.
  if (args.size() >= 2 && kvx::IsHelpArgument(args[1])) {
    p.console->Write(kvx::UsageText(p.process->ModuleFileName()));
    return 0;
  }

  kvx::LogFile log({*p.process, *p.files, *p.console, *p.debug, *p.strings, *p.ansi, *p.clock});
  kvx::ToolState state;
  kvx::ToolRuntime runtime(p, state);
  kvx::ToolCommands commands(runtime.tool);
  kvx::RunContext ctx{*p.debug,
                      *p.console,
                      *p.objects,
                      *p.process,
                      *p.security,
                      *p.strings,
                      kvx::XmlLoadContext{*p.xml, *p.files, *p.debug, *p.strings},
                      log,
                      commands};
  return kvx::EntryPoint(ctx, args);
}
