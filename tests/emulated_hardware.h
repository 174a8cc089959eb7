#pragma once
// The tool's flash stack in this process (hardware access library, flash
// module, service senders, CUtility, flash cycle) over the real POSIX
// clients of a kvxemu brought up for the test with a copy of the example
// volume and the module off. Sleeps are recorded, not slept.
#include <gtest/gtest.h>

#include <memory>

#include "core/tool_context.h"
#include "flash/flash_cycle.h"
#include "platform/libxml2/xml_dom_libxml2.h"
#include "platform/posix/device_io_posix.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/named_objects_posix.h"
#include "platform/posix/path_map.h"
#include "platform/posix/profile_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/service_manager_posix.h"
#include "platform/posix/smbios_source_posix.h"
#include "tests/emu_machine.h"
#include "tests/fakes.h"

namespace kvx::testing {

class EmulatedHardware : public ::testing::Test {
 protected:
  explicit EmulatedHardware(const std::string& volume = KVX_SOURCE_DIR "/examples/volume");

  void SetUp() override { ASSERT_TRUE(emu_.up()); }
  // The machine's log entries that start with `prefix`.
  std::vector<std::string> LogOf(const std::string& prefix) const;
  int Count(const std::vector<uint32_t>& waits, uint32_t ms) const;

  EmuMachine emu_;
  PathMap paths_;
  PosixFileSystem files_;
  PosixPrivateProfile profile_;
  std::unique_ptr<XmlServices> xml_;
  PosixDeviceIo devices_;
  PosixServiceManager services_;
  PosixRegistry registry_;
  PosixSmbiosSource smbios_source_;
  PosixNamedObjects objects_;
  PosixLegacyPlatform legacy_;
  FakeProcess process_;
  RecordingConsole console_;
  RecordingDebug debug_;
  FakeAnsi ansi_;
  RecordingSleeper sleeper_;
  RecordingMessageBox message_box_;
  FakeStrings strings_;
  ToolState state_;
  WinIo io_;
  SMBiosService smbios_;
  FlashModule module_;
  CUserInfoExport notify_;
  ToolContext ctx_;  // refers to cycle_, built below
  CUtility utility_;
  FlashCycle cycle_;
};

}  // namespace kvx::testing
