#pragma once
// The frames of the emulated machine's wire, as bytes: the same on every
// transport that carries them (kvxemu's stream socket on POSIX; the named
// pipe and TCP relay of the machine under Wine). A request and its reply
// are one frame each: a 32-bit little-endian byte count, then the body: the
// number of fields, then each field as a 32-bit little-endian byte count and
// its bytes. A request's first field names the operation; a reply's first
// field is "ok", or "err" followed by the Windows error number.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/device_io.h"    // kErrorInvalidHandle
#include "platform/file_system.h"  // kErrorFileNotFound, kErrorGenFailure

namespace kvx {

using Fields = std::vector<std::string>;

// The largest frame body either side accepts.
inline constexpr uint32_t kEmuFrameLimit = 1 << 20;

// Windows error numbers the machine answers with.
inline constexpr int kErrorAccess = 5;
inline constexpr int kErrorNotEnoughMemory = 8;
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

// The whole frame of `fields`, byte count first.
std::string EncodeFrame(const Fields& fields);
// The byte count at the head of a frame (4 bytes); 0 when it is out of
// bounds (below 4 or above kEmuFrameLimit), which ends the stream.
uint32_t FrameBodySize(const char head[4]);
// The fields of a frame's body; false when the body is not well formed.
bool DecodeFrameBody(const std::string& body, Fields& fields);

// Numbers as fields.
std::string NumberField(int64_t value);
int64_t FieldNumber(const std::string& field);

// The reply of a failure with the Windows error number `error`.
Fields ErrorReply(int error);

// Whether a reply says "ok"; otherwise `error` gets its error number.
bool ReplyOk(const Fields& reply, int& error);

}  // namespace kvx
