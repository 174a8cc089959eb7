// QZRRemote: applies one remote command file to the instant-on flash
// module, or copies the flash system's user folder to the PC. The POSIX
// entry: the command line arrives as the locale's bytes, taken as UTF-8.
#include <string>
#include <vector>

#include "app/tool_main.h"

int main(int argc, char** argv) {
  return kvx::RunQZRRemote(std::vector<std::string>(argv, argv + argc));
}
