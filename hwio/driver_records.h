#pragma once
// The records exchanged with the kernel I/O driver and the BIOS calling
// interface: packed, little-endian, the same layout in 32- and 64-bit
// builds, and the request codes of the driver.
#include <cstddef>
#include <cstdint>

namespace kvx {

#pragma pack(push, 1)

// A port read or write of the NT platform.
struct PortRecord {
  uint16_t port;
  uint32_t value;  // filled by the driver on a read
};

// A port access of the legacy platform.
struct LegacyPortRecord {
  uint16_t port;
  uint32_t value;  // not set for a read
  uint8_t width;   // 1, 2 or 4
};

// A physical range to map, or a mapping to undo. The linear address is 32
// bits wide in every build, so a mapping must lie below 4 GiB.
struct PhysicalMappingRecord {
  uint32_t section;   // filled by the driver on a map; set by the caller to unmap
  uint32_t size;
  uint32_t physical;  // the driver may return the base it actually mapped
  uint32_t linear;    // filled by the driver on a map; set by the caller to unmap
};

// A DOS device name and its target device path, ANSI, zero-terminated.
struct DosDeviceRecord {
  char target[256];
  char name[8];
};

// What a port write that returns the processor's registers gives back.
struct sCPU_REGS {
  uint32_t regs[4];
};

// The command buffer of the BIOS calling interface.
struct sCMD_BUF {
  uint16_t cbClass;
  uint16_t cbSelect;
  uint32_t cbArg[4];
  uint32_t u32Res[4];
};

// A calling-interface request: the command port and code written by
// CallInterface, the command buffer, and room the library does not use.
struct CallingInterfaceRequest {
  uint16_t port;
  uint16_t code;
  uint16_t unused;
  sCMD_BUF stCmdBuf;
  uint8_t rest[133];
};

#pragma pack(pop)

static_assert(sizeof(PortRecord) == 6);
static_assert(sizeof(LegacyPortRecord) == 7);
static_assert(sizeof(PhysicalMappingRecord) == 16);
static_assert(sizeof(DosDeviceRecord) == 264);
static_assert(sizeof(sCPU_REGS) == 16);
static_assert(sizeof(sCMD_BUF) == 36);
static_assert(sizeof(CallingInterfaceRequest) == 175);
static_assert(offsetof(CallingInterfaceRequest, stCmdBuf) == 6);
static_assert(offsetof(CallingInterfaceRequest, stCmdBuf) + offsetof(sCMD_BUF, u32Res) == 26);

// Request codes of the driver.
inline constexpr uint32_t kIoctlMapPhysical = 0x80102040;
inline constexpr uint32_t kIoctlUnmapPhysical = 0x80102044;
inline constexpr uint32_t kIoctlReadPort8 = 0x80102050;
inline constexpr uint32_t kIoctlReadPort16 = 0x80102054;
inline constexpr uint32_t kIoctlReadPort32 = 0x80102058;
inline constexpr uint32_t kIoctlWritePort8 = 0x8010205C;
inline constexpr uint32_t kIoctlWritePort16 = 0x80102060;
inline constexpr uint32_t kIoctlWritePort32 = 0x80102064;
inline constexpr uint32_t kIoctlCallingInterface = 0x80102068;
inline constexpr uint32_t kIoctlWritePortRegisters = 0x80102084;
inline constexpr uint32_t kIoctlDefineDosDevice = 0x8010208C;
inline constexpr uint32_t kIoctlRemoveDosDevice = 0x80102090;
inline constexpr uint32_t kIoctlLegacyWritePort = 0x220007;
inline constexpr uint32_t kIoctlLegacyReadPort = 0x22000B;

}  // namespace kvx
