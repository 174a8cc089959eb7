#pragma once
#include "platform/win32/windows_api.h"

#include "platform/device_io.h"

namespace kvx {

// Devices through CreateFileA and DeviceIoControl, without overlapped I/O.
// Each device closes its handle when it goes. Default-constructible.
class Win32DeviceIo : public DeviceIo {
 public:
  std::unique_ptr<Device> Open(const std::string& path) override;
  std::unique_ptr<Device> OpenLegacy(const std::string& path) override;
  int LastError() override { return error_; }
  // The system's message for `error`, without its line end.
  std::string ErrorMessage(int error) override;

  // Takes over `handle` as a device whose failures this object reports.
  std::unique_ptr<Device> Adopt(HANDLE handle);

 private:
  int error_ = 0;
};

// The legacy platform (Windows 95, 98, Me): kernel32's image as loaded, and
// the virtual machine manager reached through kernel32's first export. A
// 64-bit build never runs there, and gives nothing. Default-constructible.
class Win32LegacyPlatform : public LegacyPlatform {
 public:
  const uint8_t* Kernel32(size_t& size) override;
  uintptr_t CallVmm(const uint8_t* entry, uint32_t service, uint32_t function, uint32_t arg1,
                    uint32_t arg2) override;
};

}  // namespace kvx
