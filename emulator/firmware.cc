// The firmware's calling interface and the flash module behind it. The
// request is the caller's block as the driver hands it on: command port
// and code at 0 and 2, the command buffer at 6 (class, select, four
// arguments, four results).
#include <cstdio>

#include "emulator/machine.h"
#include "emulator/record_bytes.h"
#include "emulator/smbios_table.h"

namespace kvx::emu {

namespace {

constexpr size_t kBuffer = 6;
constexpr size_t kBufferSize = 36;

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

}  // namespace

Fields Machine::CallingInterface(const std::string& in) {
  if (in.size() < kBuffer + kBufferSize) return ErrorReply(kErrorInvalidParameter);
  const uint32_t port = GetField(in, 0, 2), code = GetField(in, 2, 2);
  // The firmware only listens on the port and code its table announces.
  if (port != kCommandPort || code != kCommandCode) {
    Log("firmware: refused a request on port " + Hex(port) + " with code " + Hex(code));
    return ErrorReply(kErrorGenFailure);
  }
  const uint32_t cls = GetField(in, kBuffer, 2), select = GetField(in, kBuffer + 2, 2);
  const uint32_t arg1 = GetField(in, kBuffer + 4, 4), arg2 = GetField(in, kBuffer + 8, 4);
  if (knobs_.calling_interface_fails) {
    Log("firmware: calling interface failed (knob)");
    return ErrorReply(kErrorGenFailure);
  }
  std::string reply = in.substr(kBuffer, kBufferSize);
  for (size_t i = 20; i < kBufferSize; ++i) reply[i] = 0;
  if (cls == 17 && select == 13 && arg1 == 0 && arg2 == 0) {
    const uint32_t bits = knobs_.status_byte >= 0 ? static_cast<uint32_t>(knobs_.status_byte)
                                                   : (powered_ ? 0x38u : 0x18u);
    PutField(reply, 20, static_cast<uint32_t>(knobs_.status_result));
    PutField(reply, 24, bits);
    Log("firmware: status " + Hex(bits) + (knobs_.status_result ? " result " + std::to_string(knobs_.status_result) : ""));
  } else if (cls == 17 && select == 13 && arg1 == 1 && (arg2 == 3 || arg2 == 2)) {
    const bool on = arg2 == 3;
    if (on ? knobs_.power_on_fails : knobs_.power_off_fails) {
      Log(std::string("firmware: power ") + (on ? "on" : "off") + " failed (knob)");
      return ErrorReply(kErrorGenFailure);
    }
    powered_ = on;
    Log(std::string("firmware: power ") + (on ? "on" : "off"));
    if (!on) DeviceGone();
  } else {
    PutField(reply, 20, static_cast<uint32_t>(-2));  // not supported
    Log("firmware: unsupported class " + std::to_string(cls) + " select " + std::to_string(select));
  }
  if (knobs_.reply_length != kBufferSize) reply.resize(knobs_.reply_length, '\0');
  return {"ok", reply};
}

}  // namespace kvx::emu
