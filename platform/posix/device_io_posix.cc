#include "platform/posix/device_io_posix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "platform/posix/emu_wire.h"

namespace kvx {

namespace {

constexpr uint32_t kMapPhysical = 0x80102040;
constexpr uint32_t kUnmapPhysical = 0x80102044;
constexpr const char* kPhysicalMemoryFile = "physmem";

using Views = PosixDeviceIo::Views;

class PosixDevice : public Device {
 public:
  PosixDevice(std::unique_ptr<EmuConnection> c, std::string name, std::string machine, int& error,
              Views& views)
      : c_(std::move(c)), name_(std::move(name)), machine_(std::move(machine)), error_(error),
        views_(views) {}

  bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
               uint32_t& returned) override {
    returned = 0;
    if (code == kUnmapPhysical) return Unmap(in, in_size);
    const Fields reply = c_->Call({"dev.ioctl", name_, NumberField(code),
                                   std::string(static_cast<const char*>(in), in ? in_size : 0),
                                   NumberField(out_size)});
    if (!ReplyOk(reply, error_)) return false;
    std::string data = reply.size() > 1 ? reply[1] : std::string();
    if (code == kMapPhysical && !Map(reply, data)) return false;
    if (data.size() > out_size) data.resize(out_size);
    if (!data.empty()) std::memcpy(out, data.data(), data.size());
    returned = static_cast<uint32_t>(data.size());
    return true;
  }

 private:
  // The driver answered a map with the record (linear address 0) and the
  // range of its memory file; the view is made here, in the caller.
  bool Map(const Fields& reply, std::string& record) {
    if (reply.size() < 4 || record.size() < 16) {
      error_ = kErrorGenFailure;
      return false;
    }
    uint32_t section;
    std::memcpy(&section, record.data(), 4);
    const off_t offset = static_cast<off_t>(FieldNumber(reply[2]));
    const size_t length = static_cast<size_t>(FieldNumber(reply[3]));
    void* p = MAP_FAILED;
    const int fd = open((machine_ + "/" + kEmuFolder + "/" + kPhysicalMemoryFile).c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_32BIT, fd, offset);
      close(fd);
    }
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    if (p == MAP_FAILED || at > 0xFFFFFFFFu - length) {
      if (p != MAP_FAILED) munmap(p, length);
      c_->Call({"dev.unmapped", name_, NumberField(section)});
      error_ = kErrorNotEnoughMemory;
      return false;
    }
    views_[section] = {p, length};
    const uint32_t linear = static_cast<uint32_t>(at);
    std::memcpy(record.data() + 12, &linear, 4);
    return true;
  }

  bool Unmap(const void* in, uint32_t in_size) {
    uint32_t section = 0;
    if (in == nullptr || in_size < 16) {
      error_ = kErrorInvalidParameter;
      return false;
    }
    uint32_t linear = 0;
    std::memcpy(&section, in, 4);
    std::memcpy(&linear, static_cast<const uint8_t*>(in) + 12, 4);
    const auto it = views_.find(section);
    if (it == views_.end()) {
      error_ = kErrorInvalidHandle;
      return false;
    }
    // The address names the view as much as the handle does: one outside
    // this section's view unmaps nothing.
    const uintptr_t start = reinterpret_cast<uintptr_t>(it->second.first);
    if (linear < start || linear - start >= it->second.second) {
      error_ = kErrorInvalidParameter;
      return false;
    }
    munmap(it->second.first, it->second.second);
    views_.erase(it);
    return ReplyOk(c_->Call({"dev.unmapped", name_, NumberField(section)}), error_);
  }

  std::unique_ptr<EmuConnection> c_;
  std::string name_;
  std::string machine_;
  int& error_;
  Views& views_;  // the process's, shared by every handle
};

}  // namespace

std::unique_ptr<Device> PosixDeviceIo::OpenAs(const std::string& path, const char* how) {
  const std::string prefix = "\\\\.\\";
  if (path.compare(0, prefix.size(), prefix) != 0) {
    error_ = kErrorFileNotFound;
    return nullptr;
  }
  const std::string name = path.substr(prefix.size());
  std::unique_ptr<EmuConnection> c = EmuConnection::Connect(machine_);
  if (!c) {
    error_ = kErrorFileNotFound;  // no machine: no device of that name
    return nullptr;
  }
  if (!ReplyOk(c->Call({"dev.open", name, how}), error_)) return nullptr;
  return std::make_unique<PosixDevice>(std::move(c), name, machine_, error_, views_);
}

std::unique_ptr<Device> PosixDeviceIo::Open(const std::string& path) { return OpenAs(path, "nt"); }

std::unique_ptr<Device> PosixDeviceIo::OpenLegacy(const std::string& path) {
  return OpenAs(path, "legacy");
}

std::string PosixDeviceIo::ErrorMessage(int error) {
  static const std::map<int, const char*> texts = {
      {kErrorInvalidFunction, "Incorrect function."},
      {kErrorFileNotFound, "The system cannot find the file specified."},
      {kErrorAccess, "Access is denied."},
      {kErrorInvalidHandle, "The handle is invalid."},
      {kErrorNotEnoughMemory, "Not enough memory resources are available to process this command."},
      {kErrorGenFailure, "A device attached to the system is not functioning."},
      {kErrorInvalidParameter, "The parameter is incorrect."},
      {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
      {kErrorDeviceNotConnected, "The device is not connected."},
  };
  const auto it = texts.find(error);
  return it != texts.end() ? it->second : "Unknown error " + std::to_string(error) + ".";
}

}  // namespace kvx
