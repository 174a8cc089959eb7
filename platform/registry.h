#pragma once
#include <cstddef>
#include <string>

namespace kvx {

// The registry of the current user (HKEY_CURRENT_USER).
class Registry {
 public:
  virtual ~Registry() = default;
  // The default (unnamed) REG_SZ value of `key`, read into a zero-filled
  // buffer of `max_units` UTF-16 units: `out` is the buffer's text up to
  // its first NUL (empty for a value of no data). False when the query
  // fails or the value does not fit the buffer.
  virtual bool ReadDefaultValue(const std::string& key, size_t max_units, std::string& out) = 0;
  // Sets the default value of `key` to `value` (REG_SZ).
  virtual bool WriteDefaultValue(const std::string& key, const std::string& value) = 0;
};

}  // namespace kvx
