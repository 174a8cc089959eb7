#pragma once
// The private-profile (INI) functions of the platform, with the buffer
// sizes and truncation rules of the Windows functions. Sizes and counts are
// in UTF-16 units, as the Windows buffers count them. Section and key names
// are compared without regard to case (A to Z).
#include <cstdint>
#include <string>

namespace kvx {

class PrivateProfile {
 public:
  virtual ~PrivateProfile() = default;
  // The value of `key` in `section`, one pair of enclosing quotation marks
  // removed, or `default_value` (its trailing blanks removed) when the key
  // is missing or has no value; cut to `size` - 1 units, even between the
  // two units of a surrogate pair, as the Windows buffer is. Returns the
  // number of units in `out`.
  virtual uint32_t GetString(const std::string& section, const std::string& key,
                             const std::string& default_value, std::u16string& out, uint32_t size,
                             const std::string& file) = 0;
  // The value as a decimal (or "0x" hexadecimal, "0o" octal, "0b" binary)
  // integer, read from its first 29 units and kept to its low 32 bits;
  // `default_value` when the key is missing or empty.
  virtual uint32_t GetInt(const std::string& section, const std::string& key, int default_value,
                          const std::string& file) = 0;
  // The buffer of section names as the Windows function fills one of
  // `size` units: each name and a NUL, then a NUL. Returns its count (the
  // final NUL not counted; `size` - 2 when the names did not fit).
  virtual uint32_t GetSectionNames(std::u16string& buffer, uint32_t size,
                                   const std::string& file) = 0;
  // Sets `key` of `section` to `value`: an existing key's value is replaced
  // in place, a new key goes to the end of its section, a new section to
  // the end of the file. The file keeps its encoding (UTF-16 with its mark,
  // UTF-8 with its mark, or narrow text for a new file).
  // A write may be held in the profile cache until Flush is called for the
  // file, another file is used, or the object ends: what reads the file by
  // other means than these functions flushes first.
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value, const std::string& file) = 0;
  // Writes what the calls changed in `file` (the Windows idiom: a write
  // with a null section, key and value). False when it cannot be written.
  virtual bool Flush(const std::string& file) = 0;
};

}  // namespace kvx
