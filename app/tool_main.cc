#include "app/tool_main.h"

#include "app/entry.h"
#include "app/log_file.h"
#include "app/tool_commands.h"
#include "app/tool_runtime.h"
#include "app/validate_mode.h"
#include "core/tool_context.h"
#include "platform/platform.h"

namespace kvx {

int RunQZRRemote(const std::vector<std::string>& args) {
  std::unique_ptr<Platform> platform = CreatePlatform();
  Platform& p = *platform;

  // Asking for help runs nothing and leaves the history log alone.
  if (args.size() >= 2 && IsHelpArgument(args[1])) {
    p.console->Write(UsageText(p.process->ModuleFileName()));
    return 0;
  }
  // Checking a command file needs no rights and no module, and leaves the
  // history log alone too.
  if (args.size() >= 2 && IsValidateArgument(args[1])) {
    ValidateContext validate{*p.console, *p.process, XmlLoadContext{*p.xml, *p.files, *p.debug, *p.strings}};
    return RunValidateMode(validate, args);
  }

  LogFile log({*p.process, *p.files, *p.console, *p.debug, *p.strings, *p.ansi, *p.clock});
  ToolState state;
  ToolRuntime runtime(p, state);
  ToolCommands commands(runtime.tool);
  RunContext ctx{*p.debug,
                 *p.console,
                 *p.objects,
                 *p.process,
                 *p.security,
                 *p.strings,
                 XmlLoadContext{*p.xml, *p.files, *p.debug, *p.strings},
                 log,
                 commands};
  return EntryPoint(ctx, args);
}

}  // namespace kvx
