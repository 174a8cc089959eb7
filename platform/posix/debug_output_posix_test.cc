#include "platform/posix/debug_output_posix.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "platform/posix/debug_channel.h"
#include "tests/temp_dir.h"

namespace kvx {
namespace {

// A viewer bound to the machine folder's endpoint.
class Viewer {
 public:
  explicit Viewer(const std::string& folder) {
    sockaddr_un addr;
    socklen_t len;
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (DebugChannelAddress(folder, addr, len, folder_fd_)) {
      unlink(addr.sun_path);
      bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    }
  }
  ~Viewer() {
    close(fd_);
    if (folder_fd_ >= 0) close(folder_fd_);
  }
  bool bound() const { return bound_; }
  // The next message, or "" when none comes within a second.
  std::string Next() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) return "";
    char buf[256];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }

 private:
  int fd_ = -1, folder_fd_ = -1;
  bool bound_ = false;
};

TEST(PosixDebugOutput, AViewerBoundAtAnyTimeGetsTheMessagesFromThenOn) {
  testing::TempDir machine;
  // A folder made well before the run, as machine folders are: its time
  // alone then tells that nobody came.
  usleep(150 * 1000);
  PosixDebugOutput out(machine.path());
  out.Write("nobody reads this");
  out.Write("nor this");
  {
    Viewer first(machine.path());
    ASSERT_TRUE(first.bound());
    out.Write("one");
    EXPECT_EQ(first.Next(), "one");
    out.Write("two");
    EXPECT_EQ(first.Next(), "two");
  }
  out.Write("lost: the viewer is gone");
  // A second viewer in the first one's place.
  Viewer second(machine.path());
  ASSERT_TRUE(second.bound());
  out.Write("three");
  EXPECT_EQ(second.Next(), "three");
}

}  // namespace
}  // namespace kvx
