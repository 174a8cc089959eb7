#include "app/entry.h"

#include <memory>

#include "app/list_mode.h"
#include "core/diag.h"
#include "platform/string_table.h"
#include "core/text.h"

namespace kvx {

namespace {

constexpr int kResultNoFile = 1;
constexpr int kResultNoRights = 3;
constexpr int kResultInvalidFile = 4;
constexpr int kResultDriverFailed = 5;
constexpr int kResultElevated = 10;

// Steps 6 to 8 of a command-file run: schema, load and validation, driver.
int LoadAndApply(RunContext& ctx, const std::string& file) {
  std::string schema_path;
  GetSchemaPath(ctx.process, schema_path);
  std::unique_ptr<XmlDocument> document;
  std::string validation_text;  // the report is for the debugger only
  if (!LoadAndValidateXml(ctx.xml, document, file, schema_path, validation_text))
    return kResultInvalidFile;
  return ctx.commands.DoRemoteCmdFile(*document) ? 0 : kResultDriverFailed;
}

}  // namespace

bool CheckAdminMembership(Security& security, bool& member, bool& enabled) {
  member = enabled = false;
  AdminGroupState state;
  if (!security.ReadAdminGroup(state)) return false;
  member = state.member;
  enabled = state.member && state.enabled;
  return true;
}

bool IsVistaOrLater(Process& process, DebugOutput& debug) {
  OsVersion version;
  if (!process.QueryVersion(true, version) && !process.QueryVersion(false, version)) {
    debug.Write("Failed to get OS version!!!");
    return false;
  }
  return version.major >= 6;
}

namespace {

// The schema beside a non-empty executable path: its folder, "\" and the
// schema's name.
std::string SchemaPathBeside(const std::string& module) {
  const size_t slash = module.rfind('\\');
  return (slash == std::string::npos ? std::string() : module.substr(0, slash)) + "\\" +
         kSchemaFileName;
}

}  // namespace

void GetSchemaPath(Process& process, std::string& path) {
  const std::string module = process.ModuleFileName();
  if (!module.empty()) path = SchemaPathBeside(module);
}

int ShowResultMessage(RunContext& ctx, int code) {
  std::string text;
  if (code >= 0 && code <= 5)
    text = ctx.strings.Load(102 + code);
  else if (code == 6)
    text = ctx.strings.Load(111);
  Diag(ctx.debug, "The Error Message return is %s", text.c_str());
  ctx.console.Write(text);
  return code;
}

int CheckRunRights(RunContext& ctx, const std::vector<std::string>& arguments) {
  bool member = false, enabled = false;
  if (!CheckAdminMembership(ctx.security, member, enabled) || !member) return kResultNoRights;
  if (!enabled && IsVistaOrLater(ctx.process, ctx.debug)) {
    const std::string executable = ctx.process.ModuleFileName();
    ctx.security.LaunchElevated(executable, arguments);
    return kResultElevated;
  }
  return 0;
}

int RunCommandFile(RunContext& ctx, const std::string& file) {
  const int rights = CheckRunRights(ctx, {file});
  return rights != 0 ? rights : LoadAndApply(ctx, file);
}

int EntryPoint(RunContext& ctx, const std::vector<std::string>& args) {
  ctx.process.ComInitialize();
  ctx.debug.Write("Before create VeskQZRGlobalMutex.");
  bool existed = false;
  std::unique_ptr<NamedMutex> guard = ctx.objects.CreateMutex(kInstanceMutexName, &existed);
  if (!guard || existed) {
    guard.reset();
    ctx.debug.Write("The VeskQZRGlobalMutex is already existed.");
    const std::string text = ctx.strings.Load(111);
    Diag(ctx.debug, "The Error Message return is %s", text.c_str());
    ctx.console.Write(text);
    return 0;
  }
  ctx.debug.Write("The VeskQZRGlobalMutex create successfully.");

  int result = 0;
  std::string first;
  bool listing_mode = false;
  std::string listing;
  if (args.size() < 2) {
    result = kResultNoFile;
  } else {
    first = args[1];
    Diag(ctx.debug, "The Second CMD Line is %s", first.c_str());
    if (EqualsIgnoringCase(first, "copyPersistentData")) {
      if (args.size() < 3) {
        result = kResultNoFile;
      } else {
        Diag(ctx.debug, "The Third CMD Line is %s", args[2].c_str());
        result = ctx.commands.CopyPersistentData(args[2]) ? 0 : kResultDriverFailed;
      }
    } else if (first.find(".xml") != std::string::npos) {
      result = RunCommandFile(ctx, first);
    } else if (IsListArgument(first)) {
      listing_mode = true;
      result = RunListMode(ctx, args, listing);
    } else {
      // Neither mode: nothing ran, and that is no success.
      result = kResultNoFile;
    }
  }

  ctx.log.WriteHistoryLine(result, first);
  ctx.process.ComUninitialize();
  guard.reset();
  // A listing speaks for itself (and JSON must stand alone); a listing
  // that reached no module says so. Rights and relaunch end as any run.
  if (listing_mode && (result == 0 || result == kResultDriverFailed)) {
    ctx.console.Write(result == 0 ? listing : ctx.strings.Load(kListNoModule));
    return result;
  }
  return ShowResultMessage(ctx, result);
}

bool IsHelpArgument(const std::string& arg) {
  return arg == "/?" || arg == "-h" || arg == "--help";
}

bool IsListArgument(const std::string& arg) {
  return EqualsIgnoringCase(arg, "/list") || EqualsIgnoringCase(arg, "--list");
}

bool IsJsonArgument(const std::string& arg) {
  return EqualsIgnoringCase(arg, "/json") || EqualsIgnoringCase(arg, "--json");
}

bool IsValidateArgument(const std::string& arg) {
  return EqualsIgnoringCase(arg, "/validate") || EqualsIgnoringCase(arg, "--validate");
}

std::string UsageText(const std::string& module_path) {
  const std::string schema = module_path.empty() ? std::string(kSchemaFileName) + " beside the program"
                                                 : SchemaPathBeside(module_path);
  return "Usage: QZRRemote COMMANDS.xml\n"
         "       QZRRemote copyPersistentData FOLDER\n"
         "       QZRRemote /validate FILE        (also --validate)\n"
         "       QZRRemote /list [/json]         (also --list, --json)\n"
         "\n"
         "Applies one remote command file to the instant-on flash module, or copies\n"
         "the flash system's user folder into FOLDER on this PC.\n"
         "/validate checks FILE against the schema and says what a run would do with\n"
         "it, one line a step; it needs no rights, does not touch the module and\n"
         "writes no history line. /list shows what the module holds: its accounts with\n"
         "their application switches, and the settings waiting for the flash system's\n"
         "next start; /json prints the same as one JSON document. It changes nothing.\n"
         "\n"
         "The command file's name must contain \".xml\"; it is validated against\n"
         "  " + schema + "\n"
         "Each run writes one history line to\n"
         "  " + HistoryLogPath(module_path) + "\n"
         "\n"
         "Exit codes:\n"
         "  0   done (also when another copy of the tool is running: nothing ran);\n"
         "      /validate: the file is valid\n"
         "  1   no command file named, or copyPersistentData without a folder\n"
         "  3   you are not an administrator (command file, copy or /list)\n"
         "  4   the command file could not be loaded or is not valid\n"
         "  5   the commands could not be applied (flash module not reached), a\n"
         "      change they asked for could not be made (the later steps still ran),\n"
         "      the copy did not copy every file, or /list did not reach the module\n"
         "  10  the tool relaunched itself with elevated rights\n";
}

}  // namespace kvx
