#pragma once
// The hardware access library over the kernel I/O driver: its selection,
// installation and opening, and the port, physical-memory and DOS-device
// requests. The state is the library's process-wide driver state, owned by
// whoever owns this object.
#include <cstdint>
#include <memory>
#include <string>

#include "hwio/driver_records.h"
#include "platform/console.h"
#include "platform/debug_output.h"
#include "platform/device_io.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "platform/sleeper.h"

namespace kvx {

inline constexpr const char* kDriverDevice = "\\\\.\\KVXIO";
inline constexpr const char* kLegacyDriverDevice = "\\\\.\\KVXIO.VXD";
inline constexpr const char* kDriverService = "KVXIO";

struct WinIoDeps {
  DeviceIo& devices;
  ServiceManager& services;
  Process& process;
  FileSystem& files;
  Console& console;
  DebugOutput& debug;
  LegacyPlatform& legacy;
  Sleeper& sleeper;
};

class WinIo {
 public:
  explicit WinIo(const WinIoDeps& deps) : d_(deps) {}

  // Opens the driver's device, installing and starting its service when
  // the device does not answer.
  bool InitializeWinIo();
  void ShutdownWinIo();
  // Registers the driver's service (after removing an old one): demand
  // start, or system start. An old service that is still marked for
  // deletion (another program holds it open) is waited for a few seconds;
  // false, with a debugger line saying why, when it stays.
  bool InstallWinIoDriver(const std::string& path, bool demand_start);
  bool RemoveWinIoDriver();

  bool GetPortVal(uint16_t port, uint32_t* value, uint8_t width);
  bool SetPortVal(uint16_t port, uint32_t value, uint8_t width);
  bool SetPortValEx(uint16_t port, uint16_t value, sCPU_REGS* regs);
  // Refused (false, nothing sent) when the target does not fit 255
  // characters or the name 7.
  bool CreateDosDevice(const std::string& target, const std::string& name);
  bool DeleteDosDevice(const std::string& name);
  uint8_t* MapPhysToLin(uint32_t physical, uint32_t size, uint32_t* section);
  bool UnmapPhysicalMemory(uint32_t section, uint8_t* linear);
  bool GetPhysLong(uint32_t physical, uint32_t* value);
  bool SetPhysLong(uint32_t physical, uint32_t value);

  // The internal operations.
  bool IsNtPlatform();
  bool IsWow64Host() { return d_.process.IsWow64(); }
  bool BuildIoDriverPath();
  bool StartIoDriverService();
  bool StopIoDriverService();
  // The open device (null while closed), for the calling interface's
  // request.
  Device* device() { return device_.get(); }
  bool initialised() const { return initialised_; }
  bool nt_platform() const { return nt_; }
  const std::string& driver_path() const { return driver_path_; }
  // Writes "%s failed with error %d: %s" for the request that just failed
  // on the device: the system's error and its text, or, while no device is
  // open, the error of a request on a handle that is not open.
  void ReportFailure();

 private:
  WinIoDeps d_;
  std::unique_ptr<Device> device_;
  bool nt_ = false;
  bool initialised_ = false;
  std::string driver_path_;
  const uint8_t* legacy_entry_ = nullptr;
};

}  // namespace kvx
