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

// The socket address of the endpoint in `folder`. A folder whose path is
// too long for a socket address is reached through an open descriptor of
// it (/proc/self/fd/N), which the caller keeps in `folder_fd` (-1 when not
// needed) and closes when done. False when neither fits.
bool DebugChannelAddress(const std::string& folder, sockaddr_un& addr, socklen_t& len,
                         int& folder_fd);

}  // namespace kvx
