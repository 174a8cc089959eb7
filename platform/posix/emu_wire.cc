#include "platform/posix/emu_wire.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

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

// The connection the last caller was done with, kept for the next one: a
// run asks the emulator a few dozen times, and each new connection costs
// the emulator a thread of its own.
struct IdleConnection {
  std::mutex lock;
  std::string machine;
  int fd = -1;
};

IdleConnection& Idle() {
  static IdleConnection* idle = new IdleConnection;  // lives to the process's end
  return *idle;
}

// Whether the emulator is still at the other end of an idle connection: it
// never sends unasked, so anything to read, or the stream's end, says that
// it is gone.
bool StillAnswers(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  return poll(&p, 1, 0) == 0;
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

EmuConnection::~EmuConnection() {
  if (!broken_) {
    IdleConnection& idle = Idle();
    std::lock_guard<std::mutex> hold(idle.lock);
    if (idle.fd < 0) {
      idle.machine = machine_;
      idle.fd = fd_;
      return;
    }
  }
  close(fd_);
}

std::unique_ptr<EmuConnection> EmuConnection::Connect(const std::string& machine) {
  {
    IdleConnection& idle = Idle();
    std::lock_guard<std::mutex> hold(idle.lock);
    if (idle.fd >= 0 && idle.machine == machine) {
      const int fd = idle.fd;
      idle.fd = -1;
      if (StillAnswers(fd)) return std::unique_ptr<EmuConnection>(new EmuConnection(fd, machine));
      close(fd);
    }
  }
  sockaddr_un addr;
  socklen_t len = 0;
  int folder_fd = -1;
  if (!SocketAddressIn(machine + "/" + kEmuFolder, kEmuSocketName, addr, len, folder_fd)) return nullptr;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::unique_ptr<EmuConnection> c;
  if (fd >= 0) {
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
      c.reset(new EmuConnection(fd, machine));
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
    broken_ = true;
    return ErrorReply(kErrorDeviceNotConnected);
  }
  return reply;
}

}  // namespace kvx
