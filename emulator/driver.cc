// The kernel I/O driver behind "\\.\KVXIO": ports, physical memory, DOS
// device names and the hand-over of calling-interface requests to the
// firmware. Records are read by their byte offsets, as the driver sees them.
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "core/text.h"
#include "emulator/machine.h"
#include "hwio/driver_records.h"
#include "emulator/record_bytes.h"

namespace kvx::emu {

namespace {

// A text field of a record: up to its first NUL within `size` bytes.
std::string CText(const std::string& b, size_t at, size_t size) {
  const std::string field = b.substr(at, size);
  return field.substr(0, field.find('\0'));
}

// A file name for a device's leaf, kept inside the devices folder.
std::string SafeLeaf(const std::string& target) {
  const size_t slash = target.find_last_of("\\/");
  std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
  for (char& c : leaf) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-')) c = '_';
  }
  if (leaf.empty() || leaf == "." || leaf == "..") leaf.assign(1, '_');
  return leaf;
}

}  // namespace

uint32_t Machine::Port(uint16_t port, int width) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) v |= static_cast<uint32_t>(ports_[(port + i) & 0xFFFF]) << (8 * i);
  return v;
}

void Machine::SetPort(uint16_t port, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) ports_[(port + i) & 0xFFFF] = static_cast<uint8_t>(value >> (8 * i));
}

std::string Machine::DosLink(const std::string& name) const {
  return folder_ + "/dosdevices/" + ToLowerAscii(name) + ":";
}

std::string Machine::DeviceLink(const std::string& target) const {
  return folder_ + "/" + kEmuFolder + "/devices/" + SafeLeaf(target);
}

Fields Machine::Driver(const Fields& r) {
  const std::string& op = r[0];
  if (r.size() < 2 || (!EqualsIgnoringCase(r[1], kDriverService) &&
                        !EqualsIgnoringCase(r[1], std::string(kDriverService) + ".VXD"))) {
    return ErrorReply(kErrorFileNotFound);
  }
  const bool legacy = r[1].size() > std::string(kDriverService).size();
  ServiceRecord* s = Find(kDriverService);
  // Under Wine the request comes from the driver itself, so its service runs.
  if (wine_ && !legacy) {
    if (!s) {
      services_["kvxio"] = DefaultDriverService();
      s = Find(kDriverService);
    }
    s->state = kServiceRunning;
  }
  // The NT device answers while its service runs; the legacy platform
  // loads its driver itself.
  if (!legacy && (!s || s->state != kServiceRunning)) return ErrorReply(kErrorFileNotFound);
  if (op == "dev.open") return {"ok"};
  if (op == "dev.unmapped") {
    const uint32_t section = r.size() > 2 ? static_cast<uint32_t>(FieldNumber(r[2])) : 0;
    return sections_.erase(section) ? Fields{"ok"} : ErrorReply(kErrorInvalidHandle);
  }
  if (op == "dev.ioctl" && r.size() >= 5) {
    return Ioctl(static_cast<uint32_t>(FieldNumber(r[2])), r[3], static_cast<uint32_t>(FieldNumber(r[4])));
  }
  return ErrorReply(kErrorInvalidParameter);
}

Fields Machine::Ioctl(uint32_t code, const std::string& in, uint32_t out_size) {
  const auto width_of = [](uint32_t c, uint32_t base8) { return c == base8 ? 1 : c == base8 + 4 ? 2 : 4; };
  switch (code) {
    case kIoctlReadPort8:
    case kIoctlReadPort16:
    case kIoctlReadPort32: {
      if (in.size() < 6) return ErrorReply(kErrorInvalidParameter);
      if (out_size < 6) return ErrorReply(kErrorInsufficientBuffer);
      std::string out = in.substr(0, 6);
      PutField(out, 2, Port(static_cast<uint16_t>(GetField(in, 0, 2)), width_of(code, kIoctlReadPort8)), 4);
      return {"ok", out};
    }
    case kIoctlWritePort8:
    case kIoctlWritePort16:
    case kIoctlWritePort32:
      if (in.size() < 6) return ErrorReply(kErrorInvalidParameter);
      SetPort(static_cast<uint16_t>(GetField(in, 0, 2)), GetField(in, 2, 4), width_of(code, kIoctlWritePort8));
      return {"ok", ""};
    case kIoctlWritePortRegisters: {
      if (in.size() < 6) return ErrorReply(kErrorInvalidParameter);
      if (out_size < 16) return ErrorReply(kErrorInsufficientBuffer);
      const uint16_t port = static_cast<uint16_t>(GetField(in, 0, 2));
      const uint32_t value = GetField(in, 2, 2);
      SetPort(port, value, 2);
      // The registers after the write: eax the value, edx the port.
      std::string regs(16, '\0');
      PutField(regs, 0, value, 4);
      PutField(regs, 12, port, 4);
      return {"ok", regs};
    }
    case kIoctlMapPhysical: {
      if (in.size() < 16) return ErrorReply(kErrorInvalidParameter);
      if (out_size < 16) return ErrorReply(kErrorInsufficientBuffer);
      const uint32_t size = GetField(in, 4, 4), physical = GetField(in, 8, 4);
      if (size == 0 || physical >= kPhysicalMemorySize || size > kPhysicalMemorySize - physical) {
        return ErrorReply(kErrorInvalidParameter);
      }
      const uint32_t base = physical & ~0xFFFu;
      const uint32_t end = (physical + size + 0xFFFu) & ~0xFFFu;
      const uint32_t section = next_section_++;
      sections_[section] = {base, end - base};
      std::string out(16, '\0');
      PutField(out, 0, section, 4);
      PutField(out, 4, size, 4);
      PutField(out, 8, base, 4);
      return {"ok", out, NumberField(base), NumberField(end - base)};
    }
    case kIoctlCallingInterface:
      return CallingInterface(in);
    case kIoctlDefineDosDevice:
    case kIoctlRemoveDosDevice:
      if (in.size() < 264) return ErrorReply(kErrorInvalidParameter);
      return DefineDosDevice(in, code == kIoctlRemoveDosDevice);
    case kIoctlLegacyWritePort:
    case kIoctlLegacyReadPort: {
      if (in.size() < 7) return ErrorReply(kErrorInvalidParameter);
      const int width = static_cast<uint8_t>(in[6]);
      if (width != 1 && width != 2 && width != 4) return ErrorReply(kErrorInvalidParameter);
      const uint16_t port = static_cast<uint16_t>(GetField(in, 0, 2));
      if (code == kIoctlLegacyWritePort) {
        SetPort(port, GetField(in, 2, 4), width);
        return {"ok", ""};
      }
      if (out_size < 4) return ErrorReply(kErrorInsufficientBuffer);
      std::string out(4, '\0');
      PutField(out, 0, Port(port, width), 4);
      return {"ok", out};
    }
    default:
      return ErrorReply(kErrorInvalidFunction);
  }
}

Fields Machine::DefineDosDevice(const std::string& in, bool remove) {
  const std::string name = CText(in, 256, 8);
  if (name.empty() || name.find_first_of("/\\.:") != std::string::npos) return ErrorReply(kErrorInvalidParameter);
  const std::string link = DosLink(name);
  if (remove) {
    if (!dos_devices_.erase(ToLowerAscii(name))) return ErrorReply(kErrorFileNotFound);
    unlink(link.c_str());
    Log("driver: removed drive " + name);
    return {"ok", ""};
  }
  const std::string target = CText(in, 0, 256);
  // A drive of the machine's own map that this driver did not define stays.
  char existing[4096];
  const ssize_t n = readlink(link.c_str(), existing, sizeof existing - 1);
  const std::string devices = folder_ + "/" + kEmuFolder + "/devices/";
  if (n >= 0 && std::string(existing, static_cast<size_t>(n)).compare(0, devices.size(), devices) != 0) {
    return ErrorReply(kErrorAccess);
  }
  unlink(link.c_str());
  if (symlink(DeviceLink(target).c_str(), link.c_str()) != 0) return ErrorReply(kErrorAccess);
  dos_devices_[ToLowerAscii(name)] = target;
  Log("driver: drive " + name + " -> " + target);
  return {"ok", ""};
}

}  // namespace kvx::emu
