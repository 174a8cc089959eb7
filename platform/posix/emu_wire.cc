#include "platform/posix/emu_wire.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/debug_channel.h"

namespace kvx {

namespace {

bool ReadFully(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool SendFields(int fd, const Fields& fields) {
  const std::string frame = EncodeFrame(fields);
  const char* p = frame.data();
  size_t left = frame.size();
  while (left > 0) {
    const ssize_t n = send(fd, p, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveFields(int fd, Fields& fields) {
  fields.clear();
  char head[4];
  if (!ReadFully(fd, head, 4)) return false;
  const uint32_t size = FrameBodySize(head);
  if (size == 0) return false;
  std::string body(size, '\0');
  if (!ReadFully(fd, body.data(), size)) return false;
  return DecodeFrameBody(body, fields);
}

EmuConnection::~EmuConnection() { close(fd_); }

std::unique_ptr<EmuConnection> EmuConnection::Connect(const std::string& machine) {
  sockaddr_un addr;
  socklen_t len = 0;
  int folder_fd = -1;
  if (!SocketAddressIn(machine + "/" + kEmuFolder, kEmuSocketName, addr, len, folder_fd)) return nullptr;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::unique_ptr<EmuConnection> c;
  if (fd >= 0) {
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
      c.reset(new EmuConnection(fd));
    } else {
      close(fd);
    }
  }
  if (folder_fd >= 0) close(folder_fd);
  return c;
}

Fields EmuConnection::Call(const Fields& request) {
  Fields reply;
  if (!SendFields(fd_, request) || !ReceiveFields(fd_, reply) || reply.empty()) {
    return ErrorReply(kErrorDeviceNotConnected);
  }
  return reply;
}

}  // namespace kvx
