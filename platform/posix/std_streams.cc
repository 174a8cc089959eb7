#include "platform/posix/std_streams.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace kvx {

void EnsureStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() returns the lowest free number: this one.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

namespace {

sigset_t PipeSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

bool PipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigpipeBlock::SigpipeBlock() {
  was_pending_ = PipePending();
  const sigset_t set = PipeSet();
  pthread_sigmask(SIG_BLOCK, &set, &old_mask_);
}

SigpipeBlock::~SigpipeBlock() {
  if (!was_pending_ && PipePending()) {
    const sigset_t set = PipeSet();
    const timespec zero{};
    while (sigtimedwait(&set, nullptr, &zero) == -1 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
}

}  // namespace kvx
