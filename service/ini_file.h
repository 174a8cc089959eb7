#pragma once
// CIniFile: the wrapper through which every profile call of the account
// files goes. The file it names is a UTF-16 working copy; reads use a
// buffer of 2048 characters.
#include <string>
#include <vector>

#include "platform/profile.h"

namespace kvx {

class CIniFile {
 public:
  static constexpr uint32_t kBufferSize = 2048;

  CIniFile(PrivateProfile& profile, std::string path = std::string())
      : profile_(profile), path_(std::move(path)) {}
  // Flushes what was written, so the file is current once the wrapper ends.
  virtual ~CIniFile() { Flush(); }
  CIniFile(const CIniFile&) = delete;
  CIniFile& operator=(const CIniFile&) = delete;

  void SetPath(const std::string& path) { path_ = path; }
  const std::string& path() const { return path_; }

  // The value of `key`, or empty; at most 2047 characters.
  void ReadString(const std::string& section, const std::string& key, std::string& out);
  // The integer value of `key`, or `default_value`.
  int ReadInt(const std::string& section, const std::string& key, int default_value);
  // Writes `value` as "%d" text; the profile call's result.
  bool WriteInt(const std::string& section, const std::string& key, int value);
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Appends every section name, in file order.
  void ReadSectionNames(std::vector<std::string>& out);
  // Makes the file hold every value written so far.
  bool Flush() { return path_.empty() || profile_.Flush(path_); }

 private:
  PrivateProfile& profile_;
  std::string path_;
};

// The names in a section-name buffer: each followed by a NUL, the list
// ended by an empty name or the buffer's end.
std::vector<std::string> SplitSectionNames(const std::u16string& buffer);

}  // namespace kvx
