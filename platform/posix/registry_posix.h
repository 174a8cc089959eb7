#pragma once
#include <map>
#include <string>

#include "platform/registry.h"

namespace kvx {

// The current user's registry as one file of the machine folder,
// "registry/user.reg": a line per key, "<key>\t<default value>", UTF-8,
// with "\\", "\t" and "\n" escaped. Keys compare without regard to ASCII
// case, as registry keys do. Each call reads the file under a lock; a write
// replaces it whole.
class PosixRegistry : public Registry {
 public:
  explicit PosixRegistry(std::string machine_folder) : machine_(std::move(machine_folder)) {}
  bool ReadDefaultValue(const std::string& key, size_t max_units, std::string& out) override;
  bool WriteDefaultValue(const std::string& key, const std::string& value) override;

  // The whole file: lower-cased key to value. Empty when there is none.
  std::map<std::string, std::string> ReadAll();
  // The path of the file below the machine folder.
  static constexpr const char* kFile = "registry/user.reg";

 private:
  std::string machine_;
};

}  // namespace kvx
