#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kvx {

// The firmware's raw SMBIOS structure table, as the management
// instrumentation (or the kernel) hands it over.
struct RawSmbios {
  uint8_t major = 0;
  uint8_t minor = 0;
  std::vector<uint8_t> table;
};

class SmbiosSource {
 public:
  virtual ~SmbiosSource() = default;
  // Fills `out`; false when the table cannot be had, with `failure` the
  // diagnostic line of the step that failed.
  virtual bool Fetch(RawSmbios& out, std::string& failure) = 0;
};

}  // namespace kvx
