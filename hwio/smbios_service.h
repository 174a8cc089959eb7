#pragma once
// SMBiosService: the firmware's SMBIOS table, the walk over its structures,
// the calling-interface structures (type 218) with their token lists, and
// the command port and code that the calling interface uses.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/smbios_source.h"

namespace kvx {

struct TokenEntry {
  uint16_t id = 0;
  uint16_t location = 0;
  uint16_t value = 0;
};

// One calling-interface structure as the table holds it.
struct CallingInterfaceRecord {
  uint8_t type = 0;
  uint8_t length = 0;
  uint16_t handle = 0;
  uint16_t command_port = 0;
  uint8_t command_code = 0;
  uint32_t supported_commands = 0;  // kept, not used
  std::vector<TokenEntry> tokens;
};

// A walk over a raw structure table: a structure is its 4-byte header
// (type, formatted length, handle), the rest of its formatted area and its
// string set, which ends with two zero bytes. A structure that does not fit
// the table (its header, a formatted length below 4, or a string set that
// does not end inside the table) ends the walk.
class SmbiosTable {
 public:
  explicit SmbiosTable(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  // The offset of the first structure after the one at `after` (or from
  // the table's start when none is given) that has `type` (any type when
  // none is given); nothing at the end of the walk.
  std::optional<size_t> FindNextStructure(std::optional<size_t> after,
                                          std::optional<uint8_t> type) const;
  // The structure at position `index` from 0; nothing past the end.
  std::optional<size_t> GetStructureByIndex(size_t index) const;
  // Hands `step` each structure's offset, position and type, in order.
  void EnumStructures(const std::function<void(size_t offset, size_t index, uint8_t type)>& step) const;

  uint8_t Byte(size_t offset) const { return offset < bytes_.size() ? bytes_[offset] : 0; }
  uint16_t Word(size_t offset) const { return static_cast<uint16_t>(Byte(offset) | (Byte(offset + 1) << 8)); }
  uint32_t Dword(size_t offset) const {
    return static_cast<uint32_t>(Word(offset)) | (static_cast<uint32_t>(Word(offset + 2)) << 16);
  }
  bool empty() const { return bytes_.empty(); }

 private:
  // The offset just past the structure at `offset`, or nothing when it
  // does not fit the table.
  std::optional<size_t> End(size_t offset) const;
  std::vector<uint8_t> bytes_;
};

class SMBiosService {
 public:
  SMBiosService(DebugOutput& debug, SmbiosSource& source) : debug_(debug), source_(source) {}

  // Fetches the table again and appends its calling-interface structures
  // to the list. Always true.
  bool InitSMBIOS();
  // The first token of that id in the list's order; false, outputs
  // untouched, when there is none.
  bool GetTokenFromTokenID(uint16_t id, uint16_t& location, uint16_t& value);
  // The defaults the port and code start from; seen only before the first
  // GetAddrPort2. Always true.
  bool SetDefaultPortValue(uint16_t port, uint16_t code);
  // The command port and code: the first calling-interface structure's,
  // cached for the life of the process once found. False while none was.
  bool GetAddrPort2(uint16_t& port, uint16_t& code);

  // Reads one calling-interface structure at `offset` of `table`.
  CallingInterfaceRecord ParseCallingInterface(const SmbiosTable& table, size_t offset);

  const std::vector<CallingInterfaceRecord>& records() const { return records_; }
  uint8_t major_version() const { return raw_.major; }
  uint8_t minor_version() const { return raw_.minor; }

 private:
  bool FetchSMBiosData();

  DebugOutput& debug_;
  SmbiosSource& source_;
  RawSmbios raw_;
  std::vector<CallingInterfaceRecord> records_;
  uint16_t default_port_ = 178;
  uint16_t default_code_ = 13;
  // The port and code cache.
  uint16_t port_ = 0;
  uint16_t code_ = 0;
  bool port_started_ = false;
  bool code_started_ = false;
  bool found_ = false;
};

}  // namespace kvx
