#pragma once
// The wire between the emulated machine (kvxemu) and the platform layer
// that stands for the kernel side of this machine: a stream socket
// "emu/kvxemu.sock" in the machine folder, carrying the frames of
// platform/emu_frame.h.
#include <memory>
#include <string>

#include "platform/emu_frame.h"

namespace kvx {

inline constexpr const char* kEmuFolder = "emu";
inline constexpr const char* kEmuSocketName = "kvxemu.sock";

// Sends one frame; false when the peer is gone. Never raises SIGPIPE.
bool SendFields(int fd, const Fields& fields);
// Receives one frame; false at the end of the stream or on a bad frame.
bool ReceiveFields(int fd, Fields& fields);

// One client connection to the machine's emulator. A connection that ends
// in good order is kept for the next Connect to the same machine, which
// takes it when the emulator is still at its other end.
class EmuConnection {
 public:
  ~EmuConnection();
  // Connects to the emulator of the machine folder `machine`; null when
  // none answers there.
  static std::unique_ptr<EmuConnection> Connect(const std::string& machine);
  // One request and its reply. A lost emulator gives {"err", "1167"}.
  Fields Call(const Fields& request);

 private:
  EmuConnection(int fd, std::string machine) : fd_(fd), machine_(std::move(machine)) {}
  int fd_;
  std::string machine_;
  bool broken_ = false;  // a call failed: the stream's state is unknown
};

}  // namespace kvx
