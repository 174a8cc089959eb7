#pragma once
#include <string>

#include "platform/smbios_source.h"

namespace kvx {

// The raw table as Linux publishes it: "DMI" and "smbios_entry_point" in
// `folder` (the machine folder's "firmware/dmi/tables", or
// /sys/firmware/dmi/tables on a real host). The entry point gives the
// version: "_SM3_" (bytes 7 and 8) or "_SM_" (bytes 6 and 7).
class PosixSmbiosSource : public SmbiosSource {
 public:
  explicit PosixSmbiosSource(std::string folder) : folder_(std::move(folder)) {}
  bool Fetch(RawSmbios& out, std::string& failure) override;

 private:
  std::string folder_;
};

}  // namespace kvx
