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

// True when `path` lies below `folder` once every link on the way is
// followed (FileSystem::IsWithin). On false it names the path in the
// debugger output as passed over: nothing is read or written through a
// link that leads out of the folder an operation works in.
bool StaysInside(FileSystem& files, DebugOutput& debug, const std::string& folder,
                 const std::string& path);

// StaysInside for the folder that holds `path` (its text before the last
// "\" or "/"); true for a path without a folder.
bool StaysInItsFolder(FileSystem& files, DebugOutput& debug, const std::string& path);

}  // namespace kvx
