#include "platform/posix/smbios_source_posix.h"

#include <fstream>
#include <iterator>

namespace kvx {

namespace {

bool ReadAll(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

bool PosixSmbiosSource::Fetch(RawSmbios& out, std::string& failure) {
  std::vector<uint8_t> entry;
  if (!ReadAll(folder_ + "/smbios_entry_point", entry) || !ReadAll(folder_ + "/DMI", out.table)) {
    failure = "FetchSMBiosData:; Exit CreateInstanceEnum";  // no table instance to enumerate
    out.table.clear();
    return false;
  }
  const std::string anchor(entry.begin(), entry.end());
  if (anchor.compare(0, 5, "_SM3_") == 0 && entry.size() > 8) {
    out.major = entry[7];
    out.minor = entry[8];
  } else if (anchor.compare(0, 4, "_SM_") == 0 && entry.size() > 7) {
    out.major = entry[6];
    out.minor = entry[7];
  }
  return true;
}

}  // namespace kvx
