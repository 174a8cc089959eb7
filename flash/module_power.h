#pragma once
// The flash module itself: its status and power through the BIOS calling
// interface, the device sound events silenced while this tool powers it,
// and the drive "~" for its mounted volume.
#include <string>

#include "hwio/calling_interface.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace kvx {

inline constexpr const char* kConnectSoundKey = "AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect\\.Current";
inline constexpr const char* kDisconnectSoundKey =
    "AppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect\\.Current";

struct FlashModuleDeps {
  WinIo& io;
  SMBiosService& smbios;
  DeviceIo& devices;
  Registry& registry;
  FileSystem& files;
  DebugOutput& debug;
};

class FlashModule {
 public:
  explicit FlashModule(const FlashModuleDeps& deps) : d_(deps) {}

  // 2 powered on, 1 powered off; 0, -1, -2, -3, -5 or -6 when not usable.
  int CheckFlashStatus();
  // Powers the module on (silencing the device sounds first).
  bool PowerOn();
  // Powers the module off and puts the device sounds back.
  bool PowerOff();
  // Saves and blanks the two sound events. False when a read failed; then
  // nothing is blanked and nothing stays saved.
  bool MuteDeviceSounds();
  // Writes the saved sound events back, when there are any. Always true.
  bool RestoreDeviceSounds();
  // Names the device `device` (narrow text) drive "~" and checks that its
  // root answers; the drive is removed again when it does not.
  bool MapFlashDrive(const std::string& device);

  const std::string& saved_connect() const { return connect_; }
  const std::string& saved_disconnect() const { return disconnect_; }

 private:
  // Issues one request of class 17, select 13 with two arguments; false
  // when the calling interface failed.
  bool Call(uint32_t arg1, uint32_t arg2, sCMD_BUF& reply);

  FlashModuleDeps d_;
  std::string connect_, disconnect_;
};

}  // namespace kvx
