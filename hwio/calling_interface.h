#pragma once
// The BIOS calling interface: a request of the driver that hands the
// firmware a command buffer, with the command port and code that the SMBIOS
// table gives.
#include "hwio/driver_records.h"
#include "hwio/smbios_service.h"
#include "hwio/winio.h"

namespace kvx {

// Writes the port and code into `request`, sends its first 175 bytes, and
// copies the 36-byte reply over its command buffer. False, the request
// untouched, when no port and code are known; false when the driver
// refuses. The library need not be open: then the request fails as one on
// a handle that is not open.
bool CallInterface(WinIo& io, SMBiosService& smbios, DebugOutput& debug,
                   CallingInterfaceRequest& request);

}  // namespace kvx
