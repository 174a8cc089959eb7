// The library's exported functions: one process-wide library state (the
// driver state and the SMBIOS instance), created on first use over this
// platform, behind C names.
#include <cstddef>
#include <cstring>
#include <memory>

#include "hwio/calling_interface.h"
#include "hwio/kvxhwio.h"
#include "hwio/smbios_service.h"
#include "hwio/winio.h"
#include "platform/platform.h"

static_assert(sizeof(sCPU_REGS) == sizeof(kvx::sCPU_REGS));
static_assert(sizeof(KVX_CALLING_INTERFACE_REQUEST) == sizeof(kvx::CallingInterfaceRequest));
static_assert(offsetof(KVX_CALLING_INTERFACE_REQUEST, stCmdBuf) ==
              offsetof(kvx::CallingInterfaceRequest, stCmdBuf));

namespace {

struct Library {
  Library()
      : platform(kvx::CreatePlatform()),
        io({*platform->devices, *platform->services, *platform->process, *platform->files,
            *platform->console, *platform->debug, *platform->legacy, *platform->sleeper}),
        smbios(*platform->debug, *platform->smbios) {}
  std::unique_ptr<kvx::Platform> platform;
  kvx::WinIo io;
  kvx::SMBiosService smbios;
};

// Lives until the process ends; never destroyed, so that a caller's own
// exit handlers may still call in.
Library& Lib() {
  static Library* library = new Library();
  return *library;
}

KVXBOOL Bool(bool b) { return b ? 1 : 0; }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) KVXBOOL InitializeWinIo(void) { return Bool(Lib().io.InitializeWinIo()); }

__attribute__((visibility("default"))) void ShutdownWinIo(void) { Lib().io.ShutdownWinIo(); }

__attribute__((visibility("default"))) KVXBOOL InstallWinIoDriver(const char* driver_path, KVXBOOL demand_start) {
  return Bool(driver_path && Lib().io.InstallWinIoDriver(driver_path, demand_start != 0));
}

__attribute__((visibility("default"))) KVXBOOL RemoveWinIoDriver(void) { return Bool(Lib().io.RemoveWinIoDriver()); }

__attribute__((visibility("default"))) KVXBOOL GetPortVal(uint16_t port, uint32_t* value, uint8_t width) {
  return Bool(Lib().io.GetPortVal(port, value, width));
}

__attribute__((visibility("default"))) KVXBOOL SetPortVal(uint16_t port, uint32_t value, uint8_t width) {
  return Bool(Lib().io.SetPortVal(port, value, width));
}

__attribute__((visibility("default"))) KVXBOOL SetPortValEx(uint16_t port, uint16_t value, sCPU_REGS* registers) {
  kvx::sCPU_REGS out{};
  const bool ok = Lib().io.SetPortValEx(port, value, registers ? &out : nullptr);
  if (ok && registers) std::memcpy(registers, &out, sizeof out);
  return Bool(ok);
}

__attribute__((visibility("default"))) KVXBOOL CreateDosDevice(const char* target, const char* name) {
  return Bool(target && name && Lib().io.CreateDosDevice(target, name));
}

__attribute__((visibility("default"))) KVXBOOL DeleteDosDevice(const char* name) {
  return Bool(name && Lib().io.DeleteDosDevice(name));
}

__attribute__((visibility("default"))) uint8_t* MapPhysToLin(uint32_t physical, uint32_t size, uint32_t* section) {
  return Lib().io.MapPhysToLin(physical, size, section);
}

__attribute__((visibility("default"))) KVXBOOL UnmapPhysicalMemory(uint32_t section, uint8_t* linear) {
  return Bool(Lib().io.UnmapPhysicalMemory(section, linear));
}

__attribute__((visibility("default"))) KVXBOOL GetPhysLong(uint32_t physical, uint32_t* value) {
  return Bool(Lib().io.GetPhysLong(physical, value));
}

__attribute__((visibility("default"))) KVXBOOL SetPhysLong(uint32_t physical, uint32_t value) {
  return Bool(Lib().io.SetPhysLong(physical, value));
}

__attribute__((visibility("default"))) KVXBOOL InitSMBIOS(void) { return Bool(Lib().smbios.InitSMBIOS()); }

__attribute__((visibility("default"))) KVXBOOL GetTokenFromTokenID(uint16_t id, uint16_t* location, uint16_t* value) {
  uint16_t l = 0, v = 0;
  if (!Lib().smbios.GetTokenFromTokenID(id, l, v)) return 0;
  if (location) *location = l;
  if (value) *value = v;
  return 1;
}

__attribute__((visibility("default"))) KVXBOOL CallInterface(void* request, uint32_t) {
  if (!request) return 0;
  Library& lib = Lib();
  kvx::CallingInterfaceRequest r;
  std::memcpy(&r, request, sizeof r);
  const bool ok = kvx::CallInterface(lib.io, lib.smbios, *lib.platform->debug, r);
  std::memcpy(request, &r, sizeof r);
  return Bool(ok);
}

__attribute__((visibility("default"))) KVXBOOL SetDefaultPortValue(uint16_t port, uint16_t code) {
  return Bool(Lib().smbios.SetDefaultPortValue(port, code));
}

}  // extern "C"
