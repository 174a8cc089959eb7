#pragma once
// Device I/O control on the kernel I/O driver's device, shaped after
// CreateFileA and DeviceIoControl.
#include <cstdint>
#include <memory>
#include <string>

namespace kvx {

// The system's error of a request on a handle that is not open.
inline constexpr int kErrorInvalidHandle = 6;

// An open device handle.
class Device {
 public:
  virtual ~Device() = default;
  // One request, without overlapped I/O. True when the driver carried it
  // out; `returned` is the number of bytes it wrote to `out`. A physical
  // range the driver maps stays mapped in this process until its unmap
  // request (section handle and an address inside the view), whatever
  // becomes of the handle that mapped it.
  virtual bool Control(uint32_t code, const void* in, uint32_t in_size, void* out,
                       uint32_t out_size, uint32_t& returned) = 0;
};

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  // Opens "\\.\NAME" for reading and writing, not shared, existing only.
  // Null when the device does not answer.
  virtual std::unique_ptr<Device> Open(const std::string& path) = 0;
  // The legacy platform's dynamic load of a device driver: opened without
  // access rights, created new, deleted when closed.
  virtual std::unique_ptr<Device> OpenLegacy(const std::string& path) = 0;
  // The system's error of the last failed call, and its message text.
  virtual int LastError() = 0;
  virtual std::string ErrorMessage(int error) = 0;
};

// What only the legacy platform offers: its kernel module's image and the
// calls into its virtual machine manager.
class LegacyPlatform {
 public:
  virtual ~LegacyPlatform() = default;
  // The loaded kernel32 module: its base, and its size in `size`; null when
  // it cannot be had.
  virtual const uint8_t* Kernel32(size_t& size) = 0;
  // Calls `entry` for the virtual machine manager's `service` with
  // `function` and two arguments; the service's result, 0 on failure.
  virtual uintptr_t CallVmm(const uint8_t* entry, uint32_t service, uint32_t function,
                            uint32_t arg1, uint32_t arg2) = 0;
};

}  // namespace kvx
