#include "hwio/smbios_service.h"

#include "core/diag.h"

namespace kvx {

std::optional<size_t> SmbiosTable::End(size_t offset) const {
  if (offset + 4 > bytes_.size()) return std::nullopt;
  const size_t length = bytes_[offset + 1];
  if (length < 4 || offset + length > bytes_.size()) return std::nullopt;
  for (size_t i = offset + length; i + 1 < bytes_.size(); ++i)
    if (bytes_[i] == 0 && bytes_[i + 1] == 0) return i + 2;
  return std::nullopt;
}

std::optional<size_t> SmbiosTable::FindNextStructure(std::optional<size_t> after,
                                                     std::optional<uint8_t> type) const {
  size_t offset = 0;
  if (after) {
    const std::optional<size_t> end = End(*after);
    if (!end) return std::nullopt;
    offset = *end;
  }
  while (offset < bytes_.size()) {
    const std::optional<size_t> end = End(offset);
    if (!end) return std::nullopt;
    if (!type || bytes_[offset] == *type) return offset;
    offset = *end;
  }
  return std::nullopt;
}

std::optional<size_t> SmbiosTable::GetStructureByIndex(size_t index) const {
  std::optional<size_t> at = FindNextStructure(std::nullopt, std::nullopt);
  for (size_t i = 0; at && i < index; ++i) at = FindNextStructure(at, std::nullopt);
  return at;
}

void SmbiosTable::EnumStructures(
    const std::function<void(size_t offset, size_t index, uint8_t type)>& step) const {
  size_t index = 0;
  for (std::optional<size_t> at = FindNextStructure(std::nullopt, std::nullopt); at;
       at = FindNextStructure(at, std::nullopt))
    step(*at, index++, bytes_[*at]);
}

bool SMBiosService::FetchSMBiosData() {
  debug_.Write("FetchSMBiosData::");
  std::string failure;
  RawSmbios raw;
  const bool ok = source_.Fetch(raw, failure);
  if (ok) raw_ = std::move(raw);
  else if (!failure.empty()) debug_.Write(failure);
  debug_.Write("Exit FetchSMBiosData");
  return ok;
}

CallingInterfaceRecord SMBiosService::ParseCallingInterface(const SmbiosTable& table, size_t offset) {
  CallingInterfaceRecord r;
  r.type = table.Byte(offset);
  r.length = table.Byte(offset + 1);
  r.handle = table.Word(offset + 2);
  r.command_port = table.Word(offset + 4);
  r.command_code = table.Byte(offset + 6);
  r.supported_commands = table.Dword(offset + 7);
  // The formatted area from byte 11 holds (length - 11) / 6 entries, the
  // last of them the end marker.
  const int count = (static_cast<int>(r.length) - 11) / 6 - 1;
  Diag(debug_, "nIndex: %d.\n", count);
  for (int i = 0; i < count; ++i) {
    const size_t at = offset + 11 + 6 * static_cast<size_t>(i);
    const TokenEntry t{table.Word(at), table.Word(at + 2), table.Word(at + 4)};
    Diag(debug_, "--token: location: value: 0x%0x, 0x%0x, 0x%0x.\n", t.id, t.location, t.value);
    if (t.id == 0xFFFF) break;
    r.tokens.push_back(t);
  }
  return r;
}

bool SMBiosService::InitSMBIOS() {
  if (!FetchSMBiosData()) return true;
  const SmbiosTable table(raw_.table);
  table.EnumStructures([&](size_t offset, size_t, uint8_t type) {
    if (type == 218) records_.push_back(ParseCallingInterface(table, offset));
  });
  return true;
}

bool SMBiosService::GetTokenFromTokenID(uint16_t id, uint16_t& location, uint16_t& value) {
  for (const CallingInterfaceRecord& r : records_)
    for (const TokenEntry& t : r.tokens)
      if (t.id == id) {
        location = t.location;
        value = t.value;
        return true;
      }
  return false;
}

bool SMBiosService::SetDefaultPortValue(uint16_t port, uint16_t code) {
  default_port_ = port;
  default_code_ = code;
  return true;
}

bool SMBiosService::GetAddrPort2(uint16_t& port, uint16_t& code) {
  if (!port_started_) {
    port_ = default_port_;
    port_started_ = true;
  }
  if (!code_started_) {
    code_ = default_code_;
    code_started_ = true;
  }
  if (!found_ && !records_.empty()) {
    port_ = records_.front().command_port;
    code_ = records_.front().command_code;
    Diag(debug_, "GetAddrPort2: got location/value: %d:%d", port_, code_);
    found_ = true;
  }
  port = port_;
  code = code_;
  return found_;
}

}  // namespace kvx
