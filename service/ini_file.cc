#include "service/ini_file.h"

#include "core/utf.h"

namespace kvx {

std::vector<std::string> SplitSectionNames(const std::u16string& buffer) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < buffer.size()) {
    size_t end = buffer.find(u'\0', start);
    if (end == std::u16string::npos) end = buffer.size();
    if (end == start) break;
    names.push_back(Utf16ToUtf8(buffer.substr(start, end - start)));
    start = end + 1;
  }
  return names;
}

void CIniFile::ReadString(const std::string& section, const std::string& key, std::string& out) {
  std::u16string value;
  profile_.GetString(section, key, "", value, kBufferSize, path_);
  out = Utf16ToUtf8(value);
}

int CIniFile::ReadInt(const std::string& section, const std::string& key, int default_value) {
  return static_cast<int>(profile_.GetInt(section, key, default_value, path_));
}

bool CIniFile::WriteInt(const std::string& section, const std::string& key, int value) {
  return profile_.WriteString(section, key, std::to_string(value), path_);
}

bool CIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  return profile_.WriteString(section, key, value, path_);
}

void CIniFile::ReadSectionNames(std::vector<std::string>& out) {
  std::u16string buffer;
  profile_.GetSectionNames(buffer, kBufferSize, path_);
  for (std::string& name : SplitSectionNames(buffer)) out.push_back(std::move(name));
}

}  // namespace kvx
