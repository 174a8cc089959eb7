// QZRRemote: applies one remote command file to the instant-on flash
// module, or copies the flash system's user folder to the PC.
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/log_file.h"
#include "core/diag.h"
#include "platform/platform.h"

namespace {

// Stands in for the remote command processing and the persistent data copy
// while this build carries neither: it says so and reports failure, so that
// no run claims work it did not do.
class NoCommandProcessor : public kvx::CommandProcessor {
 public:
  explicit NoCommandProcessor(kvx::DebugOutput& debug) : debug_(debug) {}
  bool DoRemoteCmdFile(kvx::XmlDocument&) override {
    debug_.Write("This build has no remote command processing; nothing was applied.");
    return false;
  }
  bool CopyPersistentData(const std::string&) override {
    debug_.Write("This build has no persistent data copy; nothing was copied.");
    return false;
  }

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
  NoCommandProcessor commands(*p.debug);
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
