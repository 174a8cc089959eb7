#pragma once
// The emulated firmware's SMBIOS 3.0 structure table: BIOS, system,
// chassis and processor structures, the calling-interface structure (type
// 218: command port 0xB2, command code 0x0D, three tokens and the 0xFFFF
// end marker) and the end-of-table structure; and its 64-bit entry point.
#include <cstdint>
#include <vector>

namespace kvx::emu {

inline constexpr uint16_t kCommandPort = 0xB2;
inline constexpr uint8_t kCommandCode = 0x0D;
// Where the entry point and the table lie in the emulated physical memory.
inline constexpr uint32_t kEntryPointAddress = 0xF0000;
inline constexpr uint32_t kTableAddress = 0xF1000;

struct Token {
  uint16_t id, location, value;
};
// The tokens of the calling-interface structure, in table order.
const std::vector<Token>& FirmwareTokens();

std::vector<uint8_t> BuildSmbiosTable();
// The "_SM3_" entry point of a table of `table_size` bytes at `address`.
std::vector<uint8_t> BuildEntryPoint(uint32_t table_size, uint64_t address);

}  // namespace kvx::emu
