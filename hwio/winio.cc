#include "hwio/winio.h"

#include <cstring>

#include "core/diag.h"
#include "hwio/pe_exports.h"

namespace kvx {

namespace {

constexpr uint32_t kVmmMapPhysical = 0x002A0029;
constexpr uint32_t kVmmMapFunction = 0x0800;

// A deleted service goes once the last handle to it closes: how long a new
// installation waits for that, in steps.
constexpr int kMarkedForDeletionTries = 10;
constexpr uint32_t kMarkedForDeletionStepMs = 500;

uint32_t ReadCode(uint8_t width) {
  switch (width) {
    case 1: return kIoctlReadPort8;
    case 2: return kIoctlReadPort16;
    case 4: return kIoctlReadPort32;
    default: return 0;
  }
}

uint32_t WriteCode(uint8_t width) {
  switch (width) {
    case 1: return kIoctlWritePort8;
    case 2: return kIoctlWritePort16;
    case 4: return kIoctlWritePort32;
    default: return 0;
  }
}

}  // namespace

bool WinIo::IsNtPlatform() {
  OsVersion v;
  return d_.process.QueryVersion(false, v) && v.platform_id == 2;
}

void WinIo::ReportFailure() {
  const int error = device_ ? d_.devices.LastError() : kErrorInvalidHandle;
  Diag(d_.debug, "%s failed with error %d: %s", "lpszFunction", error,
       d_.devices.ErrorMessage(error).c_str());
}

bool WinIo::BuildIoDriverPath() {
  const std::string module = d_.process.ModuleFileName();
  const size_t slash = module.rfind('\\');
  if (module.empty() || slash == std::string::npos) return false;
  const std::string folder = module.substr(0, slash + 1);
  const std::string candidate = folder + (IsWow64Host() ? "kvxio_x64.sys" : "kvxio_x32.sys");
  driver_path_ = d_.files.Open(candidate, "r", nullptr) ? candidate : folder + "kvxio.sys";
  return true;
}

bool WinIo::InstallWinIoDriver(const std::string& path, bool demand_start) {
  RemoveWinIoDriver();
  std::unique_ptr<ServiceControlManager> scm = d_.services.Open(kScManagerAllAccess);
  if (!scm) return false;
  ServiceConfig config;
  config.name = kDriverService;
  config.display_name = kDriverService;
  config.type = kServiceKernelDriver;
  config.start_type = demand_start ? kServiceDemandStart : kServiceSystemStart;
  config.error_control = kServiceErrorNormal;
  config.image_path = path;
  for (int attempt = 1;; ++attempt) {
    if (scm->CreateService(config, kServiceAllAccess)) return true;
    if (scm->LastError() != kErrorServiceMarkedForDeletion) return false;
    if (attempt == kMarkedForDeletionTries) break;
    d_.sleeper.Sleep(kMarkedForDeletionStepMs);
  }
  Diag(d_.debug,
       "InstallWinIoDriver: the service %s is still marked for deletion after %u ms (error %d): another "
       "program holds it open; close it and run again",
       kDriverService, (kMarkedForDeletionTries - 1) * kMarkedForDeletionStepMs, kErrorServiceMarkedForDeletion);
  return false;
}

bool WinIo::StartIoDriverService() {
  std::unique_ptr<ServiceControlManager> scm = d_.services.Open(kScManagerAllAccess);
  if (!scm) return false;
  std::unique_ptr<Service> s = scm->OpenService(kDriverService, kServiceAllAccess);
  scm.reset();
  if (!s) return false;
  return s->Start() || s->LastError() == kErrorServiceAlreadyRunning;
}

bool WinIo::StopIoDriverService() {
  std::unique_ptr<ServiceControlManager> scm = d_.services.Open(kScManagerAllAccess);
  if (!scm) return false;
  std::unique_ptr<Service> s = scm->OpenService(kDriverService, kServiceAllAccess);
  scm.reset();
  return s && s->Control(kServiceControlStop);
}

bool WinIo::RemoveWinIoDriver() {
  StopIoDriverService();
  std::unique_ptr<ServiceControlManager> scm = d_.services.Open(kScManagerAllAccess);
  if (!scm) return false;
  std::unique_ptr<Service> s = scm->OpenService(kDriverService, kServiceAllAccess);
  scm.reset();
  return s && s->Delete();
}

bool WinIo::InitializeWinIo() {
  nt_ = IsNtPlatform();
  if (nt_) {
    device_ = d_.devices.Open(kDriverDevice);
    if (!device_) {
      BuildIoDriverPath();
      if (!InstallWinIoDriver(driver_path_, false) || !StartIoDriverService()) return false;
      device_ = d_.devices.Open(kDriverDevice);
    }
  } else {
    size_t size = 0;
    const uint8_t* kernel32 = d_.legacy.Kernel32(size);
    legacy_entry_ = FindKernel32Ordinal(kernel32, size, 1);
    device_ = d_.devices.OpenLegacy(kLegacyDriverDevice);
  }
  initialised_ = device_ != nullptr;
  return initialised_;
}

void WinIo::ShutdownWinIo() {
  device_.reset();
  initialised_ = false;
}

bool WinIo::GetPortVal(uint16_t port, uint32_t* value, uint8_t width) {
  if (!initialised_ || !device_) return false;
  uint32_t returned = 0;
  if (nt_) {
    const uint32_t code = ReadCode(width);
    if (code == 0) return true;  // no request for another width
    PortRecord r{port, 0};
    device_->Control(code, &r, sizeof r, &r, sizeof r, returned);
    if (value) *value = r.value;
    return true;
  }
  LegacyPortRecord r{port, 0, width};
  uint32_t out = 0;
  const bool ok = device_->Control(kIoctlLegacyReadPort, &r, sizeof r, &out, sizeof out, returned);
  if (ok && value) *value = out;
  return ok;
}

bool WinIo::SetPortVal(uint16_t port, uint32_t value, uint8_t width) {
  if (!initialised_ || !device_) return false;
  d_.console.Write("SetPortVal in");
  uint32_t returned = 0;
  if (nt_) {
    const uint32_t code = WriteCode(width);
    if (code == 0) return true;
    PortRecord r{port, value};
    device_->Control(code, &r, sizeof r, nullptr, 0, returned);
    return true;
  }
  LegacyPortRecord r{port, value, width};
  return device_->Control(kIoctlLegacyWritePort, &r, sizeof r, nullptr, 0, returned);
}

bool WinIo::SetPortValEx(uint16_t port, uint16_t value, sCPU_REGS* regs) {
  if (!initialised_ || !device_) return false;
  PortRecord r{port, value};
  sCPU_REGS out{};
  uint32_t returned = 0;
  if (!device_->Control(kIoctlWritePortRegisters, &r, sizeof r, &out, sizeof out, returned)) {
    ReportFailure();
    return false;
  }
  if (returned != sizeof(sCPU_REGS)) d_.debug.Write("l != sizeof(sCPU_REGS)");
  if (regs) *regs = out;
  return true;
}

bool WinIo::CreateDosDevice(const std::string& target, const std::string& name) {
  DosDeviceRecord r{};
  if (target.size() >= sizeof r.target || name.size() >= sizeof r.name) return false;
  std::memcpy(r.target, target.c_str(), target.size() + 1);
  std::memcpy(r.name, name.c_str(), name.size() + 1);
  uint32_t returned = 0;
  // A closed library has no device: the request goes nowhere, the answer
  // is still true.
  if (device_) device_->Control(kIoctlDefineDosDevice, &r, sizeof r, nullptr, 0, returned);
  return true;
}

bool WinIo::DeleteDosDevice(const std::string& name) {
  DosDeviceRecord r{};
  if (name.size() >= sizeof r.name) return false;
  std::memcpy(r.name, name.c_str(), name.size() + 1);
  uint32_t returned = 0;
  if (device_) device_->Control(kIoctlRemoveDosDevice, &r, sizeof r, nullptr, 0, returned);
  return true;
}

uint8_t* WinIo::MapPhysToLin(uint32_t physical, uint32_t size, uint32_t* section) {
  if (!initialised_ || !device_) return nullptr;
  if (!nt_) {
    const uintptr_t linear = d_.legacy.CallVmm(legacy_entry_, kVmmMapPhysical, kVmmMapFunction, physical, size);
    return reinterpret_cast<uint8_t*>(linear);
  }
  PhysicalMappingRecord r{0, size, physical, 0};
  uint32_t returned = 0;
  if (!device_->Control(kIoctlMapPhysical, &r, sizeof r, &r, sizeof r, returned)) return nullptr;
  if (section) *section = r.section;
  // A driver that maps from an aligned base and returns it still yields
  // the address of the byte that was asked for.
  const intptr_t delta = static_cast<intptr_t>(physical) - static_cast<intptr_t>(r.physical);
  return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(r.linear) + delta);
}

bool WinIo::UnmapPhysicalMemory(uint32_t section, uint8_t* linear) {
  if (!nt_) return true;
  if (!initialised_ || !device_) return false;
  PhysicalMappingRecord r{section, 0, 0, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(linear))};
  uint32_t returned = 0;
  return device_->Control(kIoctlUnmapPhysical, &r, sizeof r, nullptr, 0, returned);
}

bool WinIo::GetPhysLong(uint32_t physical, uint32_t* value) {
  if (!initialised_) return false;
  uint32_t section = 0;
  uint8_t* p = MapPhysToLin(physical, 4, &section);
  if (p == nullptr) return false;
  if (value) std::memcpy(value, p, 4);
  UnmapPhysicalMemory(section, p);
  return true;
}

bool WinIo::SetPhysLong(uint32_t physical, uint32_t value) {
  if (!initialised_) return false;
  uint32_t section = 0;
  uint8_t* p = MapPhysToLin(physical, 4, &section);
  if (p == nullptr) return false;
  std::memcpy(p, &value, 4);
  UnmapPhysicalMemory(section, p);
  return true;
}

}  // namespace kvx
