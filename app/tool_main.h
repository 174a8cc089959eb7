#pragma once
// The body of the tool's main, shared by every platform's entry function:
// the POSIX main and the Windows wmain differ only in how the command line
// arrives, and both hand it over here as UTF-8 text.
#include <string>
#include <vector>

namespace kvx {

// Runs the tool once over the platform it was built for. `args` is the
// whole command line, program name first. Returns the exit code.
int RunQZRRemote(const std::vector<std::string>& args);

}  // namespace kvx
