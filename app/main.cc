// QZRRemote: applies one remote command file to the instant-on flash
// module, or copies the flash system's user folder to the PC.
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/log_file.h"
#include "app/tool_commands.h"
#include "core/tool_context.h"
#include "platform/platform.h"

namespace {

// Stands in for the flash cycle and the companion service while this build
// carries neither: no flash cycle opens, so no run claims work it did not
// do.
class NoFlashModule : public kvx::FlashServices {
 public:
  explicit NoFlashModule(kvx::DebugOutput& debug) : debug_(debug) {}
  bool BeginFlash(int&) override {
    debug_.Write("This build has no flash cycle: the flash module cannot be reached.");
    return false;
  }
  bool EndFlash() override { return false; }
  int NotifyServiceExport() override { return 0; }
  bool NotifyServiceUsersName(const std::string&) override { return false; }

 private:
  kvx::DebugOutput& debug_;
};

}  // namespace

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
  NoFlashModule flash(*p.debug);
  kvx::ToolContext tool{*p.files,   *p.debug,   *p.profile,     *p.xml,     state,
                        flash,      *p.objects, *p.message_box, *p.process, *p.strings};
  kvx::ToolCommands commands(tool);
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
