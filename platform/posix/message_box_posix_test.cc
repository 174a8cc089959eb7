#include "platform/posix/message_box_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvx {
namespace {

// Runs Show in a child whose standard input is not a terminal, and returns
// what it wrote to standard error; the child must end by itself.
std::string ShowInChild(const std::string& text, const std::string& caption) {
  int err[2];
  EXPECT_EQ(pipe(err), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(err[1], 2);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    PosixMessageBox().Show(text, caption);
    _exit(0);
  }
  close(err[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  return out;
}

TEST(PosixMessageBox, WritesCaptionAndTextAndNeverWaitsInAScript) {
  EXPECT_EQ(ShowInChild("Cannot support the command.\n", "Error"), "Error: Cannot support the command.\n");
  EXPECT_EQ(ShowInChild("no line end", "Fehler"), "Fehler: no line end\n");
}

}  // namespace
}  // namespace kvx
