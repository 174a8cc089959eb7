#pragma once
#include <sys/socket.h>
#include <sys/stat.h>

#include <string>

#include "platform/debug_output.h"

namespace kvx {

// Sends each message as one datagram to the machine folder's endpoint.
// With no viewer bound the message is dropped; a slow viewer holds the
// sender back for at most a few seconds per message. A viewer that binds
// the endpoint later gets every message from then on: the socket stays
// connected to the viewer it reached, and while there is none, the machine
// folder's change time says when one may have come (a bind makes an entry
// there), so that a message with nobody to read it costs no look for the
// endpoint.
class PosixDebugOutput : public DebugOutput {
 public:
  explicit PosixDebugOutput(std::string machine_folder);
  ~PosixDebugOutput() override;
  void Write(std::string_view text) override;

 private:
  // Connects the socket to the endpoint; false when no viewer is bound.
  bool Reach();
  // Whether the machine folder may have changed since the last look found
  // no viewer: always, unless its change time is known and older than the
  // clock's resolution can blur.
  bool FolderChanged();

  std::string folder_;
  int socket_ = -1;
  int folder_fd_ = -1;
  int folder_look_ = -1;  // the machine folder (O_PATH), for its change time
  long long seen_sec_ = -1, seen_nsec_ = 0;
  bool ready_ = false;
  bool connected_ = false;
  sockaddr_storage addr_{};
  unsigned addr_len_ = 0;
};

}  // namespace kvx
