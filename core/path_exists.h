#pragma once
#include <string>

#include "platform/debug_output.h"
#include "platform/file_system.h"

namespace kvx {

// True when a file or folder exists at `path` (the run-time existence
// check with mode 0). On false it writes
// "_waccess return Error, and the error number is %d" to the debugger
// output. Every existence test of the tool goes through it.
bool PathExists(FileSystem& files, DebugOutput& debug, const std::string& path);

}  // namespace kvx
