#include "platform/posix/emu_wire.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/debug_channel.h"

namespace kvx {

namespace {

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}

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
  std::string body;
  PutU32(body, static_cast<uint32_t>(fields.size()));
  for (const std::string& f : fields) {
    PutU32(body, static_cast<uint32_t>(f.size()));
    body += f;
  }
  std::string frame;
  PutU32(frame, static_cast<uint32_t>(body.size()));
  frame += body;
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
  const uint32_t size = GetU32(head);
  if (size < 4 || size > kEmuFrameLimit) return false;
  std::string body(size, '\0');
  if (!ReadFully(fd, body.data(), size)) return false;
  const uint32_t count = GetU32(body.data());
  size_t at = 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (body.size() - at < 4) return false;
    const uint32_t len = GetU32(body.data() + at);
    at += 4;
    if (body.size() - at < len) return false;
    fields.emplace_back(body, at, len);
    at += len;
  }
  return at == body.size();
}

std::string NumberField(int64_t value) { return std::to_string(value); }

int64_t FieldNumber(const std::string& field) { return std::strtoll(field.c_str(), nullptr, 0); }

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

Fields ErrorReply(int error) { return {"err", NumberField(error)}; }

bool ReplyOk(const Fields& reply, int& error) {
  if (!reply.empty() && reply[0] == "ok") return true;
  error = reply.size() >= 2 ? static_cast<int>(FieldNumber(reply[1])) : kErrorGenFailure;
  return false;
}

}  // namespace kvx
