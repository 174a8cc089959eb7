#pragma once
#include <sys/socket.h>

#include <string>

#include "platform/debug_output.h"

namespace kvx {

// Sends each message as one datagram to the machine folder's endpoint.
// With no viewer bound the message is dropped; a slow viewer holds the
// sender back for at most a few seconds per message.
class PosixDebugOutput : public DebugOutput {
 public:
  explicit PosixDebugOutput(std::string machine_folder);
  ~PosixDebugOutput() override;
  void Write(std::string_view text) override;

 private:
  std::string folder_;
  int socket_ = -1;
  int folder_fd_ = -1;
  bool ready_ = false;
  sockaddr_storage addr_{};
  unsigned addr_len_ = 0;
};

}  // namespace kvx
