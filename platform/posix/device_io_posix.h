#pragma once
#include <cstddef>
#include <map>
#include <string>

#include "platform/device_io.h"

namespace kvx {

// Devices of the emulated machine: "\\.\NAME" is opened at the emulator of
// the machine folder, and each request travels to it. A physical range the
// driver maps is the emulator's shared memory file, mapped into this
// process below 4 GiB (the driver's record carries a 32-bit address); where
// it cannot be placed there the request fails instead of returning a cut
// address. A view belongs to this process, not to the handle that made it:
// it stays valid until its unmap request names its section and an address
// inside it, through any handle of this object.
class PosixDeviceIo : public DeviceIo {
 public:
  explicit PosixDeviceIo(std::string machine_folder) : machine_(std::move(machine_folder)) {}
  std::unique_ptr<Device> Open(const std::string& path) override;
  std::unique_ptr<Device> OpenLegacy(const std::string& path) override;
  // The mapped views by section handle: start and length.
  using Views = std::map<uint32_t, std::pair<void*, size_t>>;
  int LastError() override { return error_; }
  std::string ErrorMessage(int error) override;

 private:
  std::unique_ptr<Device> OpenAs(const std::string& path, const char* how);
  std::string machine_;
  int error_ = 0;
  Views views_;
};

// POSIX has no legacy platform: there is no kernel32 image and no virtual
// machine manager to call.
class PosixLegacyPlatform : public LegacyPlatform {
 public:
  const uint8_t* Kernel32(size_t& size) override {
    size = 0;
    return nullptr;
  }
  uintptr_t CallVmm(const uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t) override { return 0; }
};

}  // namespace kvx
