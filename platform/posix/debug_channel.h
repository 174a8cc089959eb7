#pragma once
// The endpoint of the debugger output stream on POSIX: a datagram socket
// "dbgview.sock" in the machine folder, bound by the viewer (kvxdbgview)
// and written to by every program of the machine. One datagram is one
// message.
#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace kvx {

inline constexpr const char* kDebugSocketName = "dbgview.sock";
// The longest message sent; longer ones are cut there.
inline constexpr size_t kDebugMessageLimit = 60000;

// The address of the socket `name` in `folder`. A folder whose path is
// too long for a socket address is reached through an open descriptor of
// it (/proc/self/fd/N), which the caller keeps in `folder_fd` (-1 when not
// needed) and closes when done. False when neither fits.
bool SocketAddressIn(const std::string& folder, const std::string& name, sockaddr_un& addr,
                     socklen_t& len, int& folder_fd);

// The address of the debugger output endpoint in `folder`, as above.
inline bool DebugChannelAddress(const std::string& folder, sockaddr_un& addr, socklen_t& len,
                                int& folder_fd) {
  return SocketAddressIn(folder, kDebugSocketName, addr, len, folder_fd);
}

}  // namespace kvx
