#include "emulator/smbios_table.h"

#include <initializer_list>
#include <string>

namespace kvx::emu {

namespace {

class TableWriter {
 public:
  // Starts a structure; `formatted` are the bytes after the 4-byte header.
  void Structure(uint8_t type, uint16_t handle, const std::vector<uint8_t>& formatted,
                 std::initializer_list<const char*> strings) {
    out_.push_back(type);
    out_.push_back(static_cast<uint8_t>(4 + formatted.size()));
    out_.push_back(static_cast<uint8_t>(handle & 0xFF));
    out_.push_back(static_cast<uint8_t>(handle >> 8));
    out_.insert(out_.end(), formatted.begin(), formatted.end());
    for (const char* s : strings) {
      out_.insert(out_.end(), s, s + std::char_traits<char>::length(s));
      out_.push_back(0);
    }
    if (strings.size() == 0) out_.push_back(0);
    out_.push_back(0);
  }
  std::vector<uint8_t> bytes() const { return out_; }

 private:
  std::vector<uint8_t> out_;
};

void Word(std::vector<uint8_t>& v, uint16_t w) {
  v.push_back(static_cast<uint8_t>(w & 0xFF));
  v.push_back(static_cast<uint8_t>(w >> 8));
}

void Dword(std::vector<uint8_t>& v, uint32_t d) {
  Word(v, static_cast<uint16_t>(d & 0xFFFF));
  Word(v, static_cast<uint16_t>(d >> 16));
}

}  // namespace

const std::vector<Token>& FirmwareTokens() {
  static const std::vector<Token> tokens = {
      {0x0350, 0x0100, 0x0001},  // flash module fitted
      {0x0351, 0x0102, 0x0001},  // flash module power control
      {0x0352, 0x0104, 0x0000},  // wireless radio at start
  };
  return tokens;
}

std::vector<uint8_t> BuildSmbiosTable() {
  TableWriter t;
  // BIOS information: vendor, version, segment, date, ROM size,
  // characteristics, extension bytes, release numbers.
  t.Structure(0, 0x0000,
              {1, 2, 0x00, 0xE8, 3, 0x0F, 0x90, 0x00, 0x0B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x03, 0x0D,
               1, 0, 0xFF, 0xFF},
              {"KVX Emulated Firmware", "1.0.0", "12/08/2026"});
  // System information: manufacturer, product, version, serial, UUID,
  // wake-up type, SKU, family.
  t.Structure(1, 0x0001,
              {1, 2, 3, 4, 0x4B, 0x56, 0x58, 0x00, 0x45, 0x4D, 0x55, 0x00, 0x00, 0x01, 0x02, 0x03,
               0x04, 0x05, 0x06, 0x07, 0x06, 5, 6},
              {"KVX", "Emulated instant-on PC", "1.0", "KVX-0001", "KVX-EMU", "Notebook"});
  // Chassis: manufacturer, type (notebook), version, serial, asset tag,
  // boot-up, power supply and thermal states, security status.
  t.Structure(3, 0x0002, {1, 0x0A, 0, 0, 0, 0x03, 0x03, 0x03, 0x03}, {"KVX"});
  // The calling interface: command port and code, supported commands,
  // then the token list and its end marker.
  std::vector<uint8_t> ci;
  Word(ci, kCommandPort);
  ci.push_back(kCommandCode);
  Dword(ci, 0x00000001);
  for (const Token& token : FirmwareTokens()) {
    Word(ci, token.id);
    Word(ci, token.location);
    Word(ci, token.value);
  }
  Word(ci, 0xFFFF);
  Word(ci, 0x0000);
  Word(ci, 0x0000);
  t.Structure(218, 0x0DA0, ci, {});
  t.Structure(127, 0xFEFF, {}, {});
  return t.bytes();
}

std::vector<uint8_t> BuildEntryPoint(uint32_t table_size, uint64_t address) {
  std::vector<uint8_t> e = {'_', 'S', 'M', '3', '_', 0, 0x18, 3, 0, 0, 0x01, 0};
  Dword(e, table_size);
  Dword(e, static_cast<uint32_t>(address & 0xFFFFFFFFu));
  Dword(e, static_cast<uint32_t>(address >> 32));
  uint8_t sum = 0;
  for (uint8_t b : e) sum = static_cast<uint8_t>(sum + b);
  e[5] = static_cast<uint8_t>(0x100 - sum);
  return e;
}

}  // namespace kvx::emu
