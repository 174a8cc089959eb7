// The POSIX platform: every interface of platform/ over this machine and
// its machine folder.
#include <sys/stat.h>

#include <memory>

#include "platform/libxml2/xml_dom_libxml2.h"
#include "platform/platform.h"
#include "platform/posix/ansi_text_posix.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/console_posix.h"
#include "platform/posix/debug_output_posix.h"
#include "platform/posix/device_io_posix.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/machine_folder.h"
#include "platform/posix/message_box_posix.h"
#include "platform/posix/named_objects_posix.h"
#include "platform/posix/path_map.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/profile_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/security_posix.h"
#include "platform/posix/service_manager_posix.h"
#include "platform/posix/sleeper_posix.h"
#include "platform/posix/smbios_source_posix.h"
#include "platform/posix/std_streams.h"
#include "platform/posix/string_resources_posix.h"

namespace kvx {

namespace {

// The raw SMBIOS table: the emulated machine's firmware when the machine
// folder has one, otherwise the kernel's copy of this host's.
std::string SmbiosFolder() {
  const std::string emulated = MachinePath("firmware/dmi/tables");
  struct stat st;
  return stat(emulated.c_str(), &st) == 0 ? emulated : "/sys/firmware/dmi/tables";
}

// Made first, before any member opens a file or a socket: a closed standard
// stream is given /dev/null so that nothing opened later takes its number.
struct StandardStreams {
  StandardStreams() { EnsureStandardStreams(); }
};

struct PosixPlatform : Platform {
  PosixPlatform()
      : paths_(MachineFolder()),
        debug_(MachineFolder()),
        files_(paths_, MachinePath("temp"), &debug_),
        profile_(paths_),
        objects_(MachinePath("objects")),
        security_(paths_),
        xml_(CreateLibxml2Services([this](const std::string& windows, std::string& native) {
          return paths_.ToNative(windows, native);
        })),
        devices_(MachineFolder()),
        services_(MachineFolder()),
        registry_(MachineFolder()),
        smbios_(SmbiosFolder()) {
    EnsureMachineDir("objects", true);
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
    xml = xml_.get();
    message_box = &message_box_;
    devices = &devices_;
    legacy = &legacy_;
    services = &services_;
    registry = &registry_;
    smbios = &smbios_;
    sleeper = &sleeper_;
  }

  StandardStreams streams_;
  PathMap paths_;
  PosixDebugOutput debug_;
  PosixConsole console_;
  PosixFileSystem files_;
  PosixPrivateProfile profile_;
  PosixNamedObjects objects_;
  PosixProcess process_;
  PosixSecurity security_;
  PosixStringResources strings_;
  PosixAnsiText ansi_;
  PosixClock clock_;
  std::unique_ptr<XmlServices> xml_;
  PosixMessageBox message_box_;
  PosixDeviceIo devices_;
  PosixLegacyPlatform legacy_;
  PosixServiceManager services_;
  PosixRegistry registry_;
  PosixSmbiosSource smbios_;
  PosixSleeper sleeper_;
};

}  // namespace

std::unique_ptr<Platform> CreatePlatform() { return std::make_unique<PosixPlatform>(); }

}  // namespace kvx
