// PLACEHOLDER, lives only on the win-core branch: a Windows CreatePlatform
// with no interfaces, so that the tool links before the Win32 platform layer
// (platform_win32.cc) is merged. The build drops this file as soon as
// platform_win32.cc exists. A program built with it cannot run.
#include "platform/platform.h"

namespace kvx {

std::unique_ptr<Platform> CreatePlatform() { return std::make_unique<Platform>(); }

}  // namespace kvx
