#pragma once
// The wire between the emulated machine (kvxemu) and the platform layer
// that stands for the kernel side of this machine: a stream socket
// "emu/kvxemu.sock" in the machine folder. A request and its reply are one
// frame each: a 32-bit little-endian byte count, then the fields, each a
// 32-bit little-endian byte count and its bytes. A request's first field
// names the operation; a reply's first field is "ok", or "err" followed by
// the Windows error number of the failure.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_io.h"    // kErrorInvalidHandle
#include "platform/file_system.h"  // kErrorFileNotFound

namespace kvx {

using Fields = std::vector<std::string>;

inline constexpr const char* kEmuFolder = "emu";
inline constexpr const char* kEmuSocketName = "kvxemu.sock";
// The largest frame either side accepts.
inline constexpr uint32_t kEmuFrameLimit = 1 << 20;

// Windows error numbers the machine answers with.
inline constexpr int kErrorAccess = 5;
inline constexpr int kErrorNotEnoughMemory = 8;
inline constexpr int kErrorGenFailure = 31;
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorInsufficientBuffer = 122;
inline constexpr int kErrorInvalidFunction = 1;
inline constexpr int kErrorInvalidServiceControl = 1052;
inline constexpr int kErrorServiceCannotAcceptControl = 1061;
inline constexpr int kErrorServiceNotActive = 1062;
inline constexpr int kErrorServiceDoesNotExist = 1060;
inline constexpr int kErrorServiceMarkedForDelete = 1072;
inline constexpr int kErrorServiceExists = 1073;
inline constexpr int kErrorDeviceNotConnected = 1167;
inline constexpr int kErrorRpcUnavailable = 1722;

// Sends one frame; false when the peer is gone. Never raises SIGPIPE.
bool SendFields(int fd, const Fields& fields);
// Receives one frame; false at the end of the stream or on a bad frame.
bool ReceiveFields(int fd, Fields& fields);

// Numbers as fields.
std::string NumberField(int64_t value);
int64_t FieldNumber(const std::string& field);

// One client connection to the machine's emulator.
class EmuConnection {
 public:
  ~EmuConnection();
  // Connects to the emulator of the machine folder `machine`; null when
  // none answers there.
  static std::unique_ptr<EmuConnection> Connect(const std::string& machine);
  // One request and its reply. A lost emulator gives {"err", "1167"}.
  Fields Call(const Fields& request);

 private:
  explicit EmuConnection(int fd) : fd_(fd) {}
  int fd_;
};

// The reply of a failure with the Windows error number `error`.
Fields ErrorReply(int error);

// Whether a reply says "ok"; otherwise `error` gets its error number.
bool ReplyOk(const Fields& reply, int& error);

}  // namespace kvx
