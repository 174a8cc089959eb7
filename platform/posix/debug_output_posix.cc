#include "platform/posix/debug_output_posix.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "platform/posix/debug_channel.h"

namespace kvx {

bool SocketAddressIn(const std::string& folder, const std::string& name, sockaddr_un& addr,
                     socklen_t& len, int& folder_fd) {
  folder_fd = -1;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::string path = folder + "/" + name;
  if (path.size() >= sizeof addr.sun_path) {
    folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd < 0) return false;
    path = "/proc/self/fd/" + std::to_string(folder_fd) + "/" + name;
    if (path.size() >= sizeof addr.sun_path) {
      close(folder_fd);
      folder_fd = -1;
      return false;
    }
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

PosixDebugOutput::PosixDebugOutput(std::string machine_folder)
    : folder_(std::move(machine_folder)) {}

PosixDebugOutput::~PosixDebugOutput() {
  if (socket_ >= 0) close(socket_);
  if (folder_fd_ >= 0) close(folder_fd_);
}

void PosixDebugOutput::Write(std::string_view text) {
  if (!ready_) {
    ready_ = true;
    sockaddr_un addr;
    socklen_t len;
    if (!DebugChannelAddress(folder_, addr, len, folder_fd_)) return;
    std::memcpy(&addr_, &addr, len);
    addr_len_ = len;
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return;
    timeval timeout{5, 0};
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  }
  if (socket_ < 0) return;
  const size_t size = text.size() < kDebugMessageLimit ? text.size() : kDebugMessageLimit;
  // Sent to the path each time, so that a viewer attached later receives
  // the messages from then on.
  sendto(socket_, text.data(), size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr_),
         addr_len_);
}

}  // namespace kvx
