// The SMBIOS walk and the token lookup over any table. Properties: the
// walk visits structures that lie inside the table, in order, each after
// the string set of the one before; the walk by index and by type agree
// with it; each calling-interface structure gives one record whose tokens
// are its formatted area's entries before the end marker; a token is found
// as its first entry in the records' order, and an absent one is not found
// and leaves the outputs alone; the command port and code are the first
// record's, or the defaults when the table has none.
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "hwio/smbios_service.h"

namespace kvx::fuzz {
namespace {

class InputSource : public SmbiosSource {
 public:
  InputSource(bool ok, RawSmbios raw) : ok_(ok), raw_(std::move(raw)) {}
  bool Fetch(RawSmbios& out, std::string& failure) override {
    if (!ok_) {
      failure = "no table";
      return false;
    }
    out = raw_;
    return true;
  }

 private:
  bool ok_;
  RawSmbios raw_;
};

uint16_t WordAt(const std::vector<uint8_t>& t, size_t at) {
  return static_cast<uint16_t>(t[at] | (t[at + 1] << 8));
}

}  // namespace

void CheckInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  const uint8_t flags = in.Byte();
  RawSmbios raw;
  raw.major = in.Byte();
  raw.minor = in.Byte();
  const uint16_t absent_id = static_cast<uint16_t>(in.Byte() | (in.Byte() << 8));
  const std::string rest = in.Rest();
  raw.table.assign(rest.begin(), rest.end());
  const std::vector<uint8_t>& t = raw.table;

  // The walk.
  const SmbiosTable table(t);
  std::vector<size_t> offsets;
  table.EnumStructures([&](size_t offset, size_t index, uint8_t type) {
    Require(index == offsets.size(), "the walk counts its structures from 0");
    Require(offset + 4 <= t.size() && t[offset + 1] >= 4 && offset + t[offset + 1] <= t.size(),
            "a structure's header and formatted area lie inside the table");
    Require(type == t[offset], "a structure's type is its first byte");
    if (!offsets.empty()) {
      const size_t prev = offsets.back();
      Require(offset >= prev + t[prev + 1] + 2, "a structure follows the one before and its strings");
      Require(t[offset - 1] == 0 && t[offset - 2] == 0, "a string set ends with two zero bytes");
    }
    offsets.push_back(offset);
  });
  if (!offsets.empty()) Require(offsets.front() == 0, "the walk begins at the table's start");
  for (size_t i = 0; i < offsets.size(); ++i)
    Require(table.GetStructureByIndex(i) == offsets[i], "the walk by index is the walk");
  Require(!table.GetStructureByIndex(offsets.size()), "there is no structure past the walk's end");
  std::vector<size_t> interfaces;
  for (size_t at : offsets)
    if (t[at] == 218) interfaces.push_back(at);
  std::vector<size_t> by_type;
  for (auto at = table.FindNextStructure(std::nullopt, uint8_t{218}); at;
       at = table.FindNextStructure(at, uint8_t{218}))
    by_type.push_back(*at);
  Require(by_type == interfaces, "the walk by type visits the walk's structures of that type");

  // The records and their tokens.
  testing::RecordingDebug debug;
  InputSource source((flags & 1) == 0, raw);
  SMBiosService service(debug, source);
  Require(service.InitSMBIOS(), "InitSMBIOS reports success");
  const std::vector<CallingInterfaceRecord>& records = service.records();
  if (flags & 1) {
    Require(records.empty(), "a table that cannot be had gives no records");
    interfaces.clear();
  }
  Require(records.size() == interfaces.size(), "each calling-interface structure gives one record");
  for (size_t r = 0; r < records.size(); ++r) {
    const size_t at = interfaces[r];
    const size_t length = t[at + 1];
    Require(records[r].length == length && records[r].handle == WordAt(t, at + 2),
            "a record carries its structure's header");
    if (length >= 7) Require(records[r].command_port == WordAt(t, at + 4), "the port is bytes 4 and 5");
    const size_t room = length >= 11 ? (length - 11) / 6 : 0;
    Require(records[r].tokens.size() <= (room > 0 ? room - 1 : 0),
            "the tokens lie inside the formatted area, the end marker's place kept");
    for (size_t k = 0; k < records[r].tokens.size(); ++k) {
      const size_t entry = at + 11 + 6 * k;
      const TokenEntry& token = records[r].tokens[k];
      Require(token.id != 0xFFFF, "the end marker is not a token");
      Require(token.id == WordAt(t, entry) && token.location == WordAt(t, entry + 2) &&
                  token.value == WordAt(t, entry + 4),
              "a token is its entry's three words");
    }
  }

  // The lookup.
  bool absent = true;
  for (const CallingInterfaceRecord& record : records)
    for (const TokenEntry& token : record.tokens) {
      if (token.id == absent_id) absent = false;
      const TokenEntry* first = nullptr;
      for (const CallingInterfaceRecord& rr : records)
        for (const TokenEntry& tt : rr.tokens)
          if (first == nullptr && tt.id == token.id) first = &tt;
      uint16_t location = 0, value = 0;
      Require(service.GetTokenFromTokenID(token.id, location, value), "a listed token is found");
      Require(location == first->location && value == first->value,
              "a token is found as its first entry");
    }
  if (absent) {
    uint16_t location = 0x1234, value = 0x5678;
    Require(!service.GetTokenFromTokenID(absent_id, location, value), "an absent token is not found");
    Require(location == 0x1234 && value == 0x5678, "a token not found leaves the outputs alone");
  }
  uint16_t port = 0, code = 0;
  Require(service.GetAddrPort2(port, code) == !records.empty(),
          "the command port is known when the table has a calling interface");
  if (records.empty()) {
    Require(port == 178 && code == 13, "without a calling interface the defaults are kept");
  } else {
    Require(port == records.front().command_port && code == records.front().command_code,
            "the command port and code are the first calling interface's");
  }
}

}  // namespace kvx::fuzz
