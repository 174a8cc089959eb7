#pragma once
// The standard streams of a console program on POSIX, made to behave as a
// Windows console program's do: a stream that cannot be written (a pipe
// whose reader is gone, a closed descriptor) makes writes fail quietly and
// changes nothing else.
#include <signal.h>

namespace kvx {

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file the program opens later takes a standard stream's number and
// receives the program's console output.
void EnsureStandardStreams();

// While alive, a write to a pipe without a reader fails with EPIPE instead
// of ending the process with SIGPIPE; a SIGPIPE raised in its scope is
// consumed before the thread's signal mask is restored. Leaves the process's
// signal handlers alone, so a program that loads the library keeps its own.
class SigpipeBlock {
 public:
  SigpipeBlock();
  ~SigpipeBlock();
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t old_mask_;
  bool was_pending_ = false;
};

}  // namespace kvx
