#include "hwio/calling_interface.h"

#include <cstring>

#include "core/diag.h"

namespace kvx {

bool CallInterface(WinIo& io, SMBiosService& smbios, DebugOutput& debug,
                   CallingInterfaceRequest& request) {
  uint16_t port = 0, code = 0;
  if (!smbios.GetAddrPort2(port, code)) {
    debug.Write("GetAddrPort return False");
    return false;
  }
  request.port = port;
  request.code = code;
  Diag(debug, "GetAddrPort: addr/code 0x%x/0x%x", port, code);
  sCMD_BUF reply{};
  uint32_t returned = 0;
  const bool ok = io.device() != nullptr &&
                  io.device()->Control(kIoctlCallingInterface, &request, sizeof request, &reply,
                                       sizeof reply, returned);
  if (!ok) {
    io.ReportFailure();
    return false;
  }
  if (returned != sizeof(sCMD_BUF)) debug.Write("l != sizeof(sCMD_BUF");
  request.stCmdBuf = reply;
  return true;
}

}  // namespace kvx
