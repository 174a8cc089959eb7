#pragma once
// The /validate mode: a command file checked with the tool's own loader and
// schema, and what a run would do with it. It needs no rights, opens no
// flash cycle and leaves the history log alone.
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/process.h"
#include "xml/xml_loader.h"

namespace kvx {

struct ValidateContext {
  Console& console;
  Process& process;
  XmlLoadContext xml;
};

// `args` is the whole command line: the mode's switch as argument 1, the
// command file as argument 2. A file that passes: what a run will do, one
// line a step, and 0. A file that fails: the validation report (message
// 110: file, reason, source line, line number) and 4. No file named:
// message 103 and 1.
int RunValidateMode(ValidateContext& ctx, const std::vector<std::string>& args);

// What a run will do with the loaded and valid `document`, in the order of
// the driver's steps, one line a step; the lines that say what will have
// no effect are among them, where the driver meets it.
std::vector<std::string> DescribeCommandFile(StringResources& strings, DebugOutput& debug,
                                             XmlDocument& document);

}  // namespace kvx
