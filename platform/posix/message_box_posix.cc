#include "platform/posix/message_box_posix.h"

#include <unistd.h>

#include <cstdio>

#include "platform/posix/std_streams.h"

namespace kvx {

void PosixMessageBox::Show(const std::string& text, const std::string& caption) {
  SigpipeBlock quiet;  // an unread error stream does not end the run
  std::fprintf(stderr, "%s: %s", caption.c_str(), text.c_str());
  if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
  if (isatty(STDIN_FILENO)) {
    std::fputs("Press Enter to continue.", stderr);
    std::fflush(stderr);
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
  }
  std::fflush(stderr);
}

}  // namespace kvx
