#include "platform/posix/debug_output_posix.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <ctime>
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
  if (folder_look_ >= 0) close(folder_look_);
}

bool PosixDebugOutput::Reach() {
  connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&addr_), addr_len_) == 0;
  return connected_;
}

bool PosixDebugOutput::FolderChanged() {
  struct stat st;
  if (folder_look_ < 0 || fstat(folder_look_, &st) != 0) return true;
  const bool same = st.st_ctim.tv_sec == seen_sec_ && st.st_ctim.tv_nsec == seen_nsec_;
  seen_sec_ = st.st_ctim.tv_sec;
  seen_nsec_ = st.st_ctim.tv_nsec;
  if (!same) return true;
  // A change in the same tick of the file system's clock as the last one
  // keeps the time: only a time well in the past says that nothing came.
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const long long age_ms = (now.tv_sec - st.st_ctim.tv_sec) * 1000LL + (now.tv_nsec - st.st_ctim.tv_nsec) / 1000000;
  return age_ms < 100;  // a clock set back gives a negative age: looked at too
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
    folder_look_ = open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    // The folder's time is taken before the first try, so that a viewer
    // binding in between changes it.
    FolderChanged();
    Reach();
  }
  if (socket_ < 0) return;
  const size_t size = text.size() < kDebugMessageLimit ? text.size() : kDebugMessageLimit;
  if (connected_) {
    if (send(socket_, text.data(), size, MSG_NOSIGNAL) >= 0 || (errno != ECONNREFUSED && errno != ENOTCONN))
      return;
    // The viewer is gone; another one may be bound in its place already.
    connected_ = false;
    if (!Reach()) return;
  } else if (!FolderChanged() || !Reach()) {
    return;
  }
  send(socket_, text.data(), size, MSG_NOSIGNAL);
}

}  // namespace kvx
