#pragma once
// The entry point of the tool: the single-instance guard, the two modes,
// rights and elevation, and the result code with its console message.
#include <string>
#include <vector>

#include "app/command_processor.h"
#include "app/log_file.h"
#include "platform/console.h"
#include "platform/debug_output.h"
#include "platform/named_objects.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/string_resources.h"
#include "xml/xml_loader.h"

namespace kvx {

inline constexpr const char* kInstanceMutexName = "Global\\VeskQZRGlobalMutex";
inline constexpr const char* kSchemaFileName = "KVXRemoteCmd.xsd";

// Everything one run of the tool uses, created by main.
struct RunContext {
  DebugOutput& debug;
  Console& console;
  NamedObjects& objects;
  Process& process;
  Security& security;
  StringResources& strings;
  XmlLoadContext xml;
  LogFile& log;
  CommandProcessor& commands;
};

// One run: `args` is the whole command line, program name first. Returns
// the exit code: 0 to 5 or 10, and 0 when another instance holds the guard.
int EntryPoint(RunContext& ctx, const std::vector<std::string>& args);

// A command file run: 0, 3, 4, 5 or 10.
int RunCommandFile(RunContext& ctx, const std::string& file);

// The rights of a run on the module: 0 when it may go on; 3 when the user
// is no administrator (or the token cannot be read); 10 when the tool was
// relaunched elevated with `arguments` because the rights are filtered.
int CheckRunRights(RunContext& ctx, const std::vector<std::string>& arguments);

// Reads the token's Administrators group: `member` and `enabled`. False,
// both clear, when the token cannot be read.
bool CheckAdminMembership(Security& security, bool& member, bool& enabled);

// Whether the system's major version is 6 or more; false (with a
// diagnostic) when neither version record can be had.
bool IsVistaOrLater(Process& process, DebugOutput& debug);

// Sets `path` to the schema beside the executable; leaves it as it was
// when the executable's path cannot be had.
void GetSchemaPath(Process& process, std::string& path);

// Prints the message of `code` (ids 102 to 107 for 0 to 5, 111 for 6,
// nothing otherwise) and returns `code`.
int ShowResultMessage(RunContext& ctx, int code);

// Whether `arg` asks for the usage text ("/?", "-h", "--help").
bool IsHelpArgument(const std::string& arg);

// Whether `arg` asks for the /list mode ("/list" or "--list"), and, after
// it, for JSON ("/json" or "--json"); in any letter case.
bool IsListArgument(const std::string& arg);
bool IsJsonArgument(const std::string& arg);

// Whether `arg` asks for the /validate mode ("/validate" or "--validate",
// in any letter case).
bool IsValidateArgument(const std::string& arg);

// The usage text, naming the schema and log paths of `module_path`.
std::string UsageText(const std::string& module_path);

}  // namespace kvx
