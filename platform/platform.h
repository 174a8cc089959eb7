#pragma once
// The platform interfaces a program of this project receives from main.
#include <memory>

#include "platform/ansi_text.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/debug_output.h"
#include "platform/device_io.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/named_objects.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/service_manager.h"
#include "platform/sleeper.h"
#include "platform/smbios_source.h"
#include "platform/string_resources.h"
#include "platform/xml_dom.h"

namespace kvx {

// One implementation of every interface, for the platform the program was
// built for. Owned by main; everything else receives references.
struct Platform {
  virtual ~Platform() = default;
  DebugOutput* debug = nullptr;
  Console* console = nullptr;
  FileSystem* files = nullptr;
  PrivateProfile* profile = nullptr;
  NamedObjects* objects = nullptr;
  Process* process = nullptr;
  Security* security = nullptr;
  StringResources* strings = nullptr;
  AnsiText* ansi = nullptr;
  Clock* clock = nullptr;
  XmlServices* xml = nullptr;
  MessageBox* message_box = nullptr;
  DeviceIo* devices = nullptr;
  LegacyPlatform* legacy = nullptr;
  ServiceManager* services = nullptr;
  Registry* registry = nullptr;
  SmbiosSource* smbios = nullptr;
  Sleeper* sleeper = nullptr;
};

// The platform the program runs on, configured from its environment once.
std::unique_ptr<Platform> CreatePlatform();

}  // namespace kvx
