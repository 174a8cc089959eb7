#pragma once
// Fakes of the hardware around the hardware access library: a driver over a
// port space and a few pages of memory, the device I/O that opens it, a
// service control manager holding the driver's service, and a legacy
// platform, each recording what it was asked; and a fixture of the library
// over them.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hwio/driver_records.h"
#include "hwio/winio.h"
#include "platform/device_io.h"
#include "platform/service_manager.h"
#include "tests/fakes.h"
#include "tests/low_memory.h"

namespace kvx::testing {

// A driver that answers the request table over a port space and a few
// pages of "physical" memory placed below 4 GiB, recording each request.
class FakeDriver : public Device {
 public:
  FakeDriver() { memory = AllocateLowMemory(kMemory); }
  ~FakeDriver() override { FreeLowMemory(memory, kMemory); }

  bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
               uint32_t& returned) override {
    requests.push_back({code, in_size, out_size});
    returned = 0;
    if (fail) return false;
    if (code >= kIoctlReadPort8 && code <= kIoctlReadPort32) {
      PortRecord r;
      std::memcpy(&r, in, sizeof r);
      const uint16_t port = r.port;  // packed: read as a value
      r.value = ports[port];
      std::memcpy(out, &r, sizeof r);
      returned = sizeof r;
    } else if (code >= kIoctlWritePort8 && code <= kIoctlWritePort32) {
      PortRecord r;
      std::memcpy(&r, in, sizeof r);
      const uint16_t port = r.port;
      ports[port] = r.value;
    } else if (code == kIoctlMapPhysical) {
      PhysicalMappingRecord r;
      std::memcpy(&r, in, sizeof r);
      const uint32_t base = r.physical & ~0xFFFu;  // maps from the page's start
      r.section = 77;
      r.linear = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(memory) + base);
      r.physical = base;
      std::memcpy(out, &r, sizeof r);
      returned = sizeof r;
    } else if (code == kIoctlWritePortRegisters) {
      sCPU_REGS regs{{1, 2, 3, 4}};
      std::memcpy(out, &regs, short_reply ? 8 : sizeof regs);
      returned = short_reply ? 8 : sizeof regs;
    } else if (code == kIoctlDefineDosDevice || code == kIoctlRemoveDosDevice) {
      std::memcpy(&dos, in, sizeof dos);
    } else if (code == kIoctlCallingInterface) {
      CallingInterfaceRequest request;
      std::memcpy(&request, in, sizeof request);
      last_call = request;
      sCMD_BUF reply = request.stCmdBuf;
      reply.u32Res[0] = static_cast<uint32_t>(bios_result);
      reply.u32Res[1] = status_byte;
      const uint32_t arg1 = request.stCmdBuf.cbArg[0], arg2 = request.stCmdBuf.cbArg[1];
      bios_calls.emplace_back(arg1, arg2);
      const uint32_t n = reply_size;
      std::memcpy(out, &reply, n);
      returned = n;
    } else if (code == kIoctlLegacyReadPort) {
      const uint32_t v = 0xABCD;
      std::memcpy(out, &v, 4);
      returned = 4;
    }
    return true;
  }

  struct Request {
    uint32_t code, in_size, out_size;
  };
  static constexpr size_t kMemory = 1 << 16;
  uint8_t* memory;
  std::map<uint16_t, uint32_t> ports;
  std::vector<Request> requests;
  DosDeviceRecord dos{};
  bool fail = false;
  bool short_reply = false;
  uint32_t reply_size = sizeof(sCMD_BUF);
  int32_t bios_result = 0;
  uint8_t status_byte = 0x38;  // the module is on
  std::vector<std::pair<uint32_t, uint32_t>> bios_calls;  // arguments 1 and 2
  CallingInterfaceRequest last_call{};
};

class FakeDevices : public DeviceIo {
 public:
  std::unique_ptr<Device> Open(const std::string& path) override {
    opened.push_back(path);
    if (!answering) return nullptr;
    auto d = std::make_unique<Proxy>(driver);
    return d;
  }
  std::unique_ptr<Device> OpenLegacy(const std::string& path) override {
    opened.push_back("legacy " + path);
    return std::make_unique<Proxy>(driver);
  }
  int LastError() override { return 31; }
  std::string ErrorMessage(int error) override {
    return error == kErrorInvalidHandle ? "The handle is invalid."
                                        : "A device attached to the system is not functioning.";
  }

  // Hands requests on to the one driver, so the test can inspect it.
  class Proxy : public Device {
   public:
    explicit Proxy(FakeDriver& d) : d_(d) {}
    bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                 uint32_t& returned) override {
      return d_.Control(code, in, in_size, out, out_size, returned);
    }

   private:
    FakeDriver& d_;
  };

  FakeDriver driver;
  bool answering = true;
  std::vector<std::string> opened;
};

class FakeScm : public ServiceManager {
 public:
  std::unique_ptr<ServiceControlManager> Open(uint32_t) override {
    return on ? std::make_unique<Manager>(*this) : nullptr;
  }
  bool on = true;
  bool registered = false, running = false;
  // How many creations are still refused as "marked for deletion", as
  // while another program holds the deleted service open.
  int marked_for_deletion = 0;
  ServiceConfig created;
  std::vector<std::string> log;

 private:
  class Svc : public Service {
   public:
    explicit Svc(FakeScm& o) : o_(o) {}
    bool QueryStatus(uint32_t& state) override {
      state = o_.running ? kServiceRunning : kServiceStopped;
      return true;
    }
    bool Control(uint32_t code) override {
      o_.log.push_back("control " + std::to_string(code));
      if (code == kServiceControlStop && o_.running) {
        o_.running = false;
        return true;
      }
      return false;
    }
    bool Start() override {
      o_.log.push_back("start");
      if (o_.running) {
        error_ = kErrorServiceAlreadyRunning;
        return false;
      }
      o_.running = true;
      return true;
    }
    bool Delete() override {
      o_.log.push_back("delete");
      o_.registered = false;
      return true;
    }
    int LastError() override { return error_; }

   private:
    FakeScm& o_;
    int error_ = 0;
  };
  class Manager : public ServiceControlManager {
   public:
    explicit Manager(FakeScm& o) : o_(o) {}
    std::unique_ptr<Service> OpenService(const std::string& name, uint32_t) override {
      if (name != "KVXIO" || !o_.registered) return nullptr;
      return std::make_unique<Svc>(o_);
    }
    std::unique_ptr<Service> CreateService(const ServiceConfig& c, uint32_t) override {
      o_.log.push_back("create " + c.image_path);
      if (o_.marked_for_deletion > 0) {
        --o_.marked_for_deletion;
        error_ = kErrorServiceMarkedForDeletion;
        return nullptr;
      }
      if (o_.registered) return nullptr;
      o_.registered = true;
      o_.created = c;
      return std::make_unique<Svc>(o_);
    }
    int LastError() override { return error_; }

   private:
    FakeScm& o_;
    int error_ = 0;
  };
};

class NoLegacy : public LegacyPlatform {
 public:
  const uint8_t* Kernel32(size_t& size) override {
    size = image.size();
    return image.empty() ? nullptr : image.data();
  }
  uintptr_t CallVmm(const uint8_t* entry, uint32_t service, uint32_t function, uint32_t a, uint32_t b) override {
    calls.push_back({entry, service, function, a, b});
    return result;
  }
  struct Call {
    const uint8_t* entry;
    uint32_t service, function, a, b;
  };
  std::vector<uint8_t> image;
  std::vector<Call> calls;
  uintptr_t result = 0;
};

// The library over the fakes, with the executable in C:\tools.
class HardwareFixture : public ::testing::Test {
 protected:
  HardwareFixture() { process.module = "C:\\tools\\QZRRemote.exe"; }
  FakeDevices devices;
  FakeScm scm;
  FakeProcess process;
  MemoryFiles files;
  RecordingConsole console;
  RecordingDebug debug;
  NoLegacy legacy;
  RecordingSleeper sleeper;
  WinIo io{{devices, scm, process, files, console, debug, legacy, sleeper}};
};

}  // namespace kvx::testing
