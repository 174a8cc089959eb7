// The Windows platform: every interface of platform/ over the Win32 API.
#include <memory>

#include "platform/platform.h"
#include "platform/win32/ansi_text_win32.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/debug_output_win32.h"
#include "platform/win32/device_io_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/message_box_win32.h"
#include "platform/win32/named_objects_win32.h"
#include "platform/win32/process_win32.h"
#include "platform/win32/profile_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/security_win32.h"
#include "platform/win32/service_manager_win32.h"
#include "platform/win32/sleeper_win32.h"
#include "platform/win32/smbios_source_win32.h"
#include "platform/win32/string_resources_win32.h"
#include "platform/win32/xml_dom_msxml.h"

namespace kvx {

namespace {

struct Win32Platform : Platform {
  Win32Platform() {
    debug = &debug_;
    console = &console_;
    files = &files_;
    profile = &profile_;
    objects = &objects_;
    process = &process_;
    security = &security_;
    strings = &strings_;
    ansi = &ansi_;
    clock = &clock_;
    message_box = &message_box_;
    sleeper = &sleeper_;
    xml = &xml_;
    devices = &devices_;
    legacy = &legacy_;
    services = &services_;
    registry = &registry_;
    smbios = &smbios_;
  }

  Win32DebugOutput debug_;
  Win32Console console_;
  Win32FileSystem files_{&debug_};
  Win32PrivateProfile profile_;
  Win32NamedObjects objects_;
  Win32Process process_;
  Win32Security security_;
  Win32StringResources strings_;
  Win32AnsiText ansi_;
  Win32Clock clock_;
  Win32MessageBox message_box_;
  Win32Sleeper sleeper_;
  MsxmlServices xml_;
  Win32DeviceIo devices_;
  Win32LegacyPlatform legacy_;
  Win32ServiceManager services_;
  Win32Registry registry_;
  // Reports what it finds to the debugger output above, constructed first.
  Win32SmbiosSource smbios_{debug_};
};

}  // namespace

std::unique_ptr<Platform> CreatePlatform() { return std::make_unique<Win32Platform>(); }

}  // namespace kvx
