#include "platform/win32/profile_win32.h"

#include <vector>

#include "platform/win32/file_system_win32.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

uint32_t Win32PrivateProfile::GetString(const std::string& section, const std::string& key,
                                        const std::string& default_value, std::u16string& out,
                                        uint32_t size, const std::string& file) {
  std::vector<wchar_t> buf(size + 1u, L'\0');
  const DWORD n =
      GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(),
                               Wide(default_value).c_str(), buf.data(), size, Wide(file).c_str());
  out.assign(buf.begin(), buf.begin() + n);
  return n;
}

uint32_t Win32PrivateProfile::GetInt(const std::string& section, const std::string& key,
                                     int default_value, const std::string& file) {
  return GetPrivateProfileIntW(Wide(section).c_str(), Wide(key).c_str(), default_value,
                               Wide(file).c_str());
}

uint32_t Win32PrivateProfile::GetSectionNames(std::u16string& buffer, uint32_t size,
                                              const std::string& file) {
  // Filled with a unit the function never writes past the names, so that
  // the end of what it wrote can be told.
  constexpr wchar_t kUnwritten = 0xFFFF;
  std::vector<wchar_t> buf(size + 2u, kUnwritten);
  const DWORD n = GetPrivateProfileSectionNamesW(buf.data(), size, Wide(file).c_str());
  // The names, each with its NUL, and the closing NUL; when the names were
  // cut, the cut name's NUL and the closing one fill the buffer.
  size_t filled = size == 0 ? 0 : (n + 1u < size ? n + 1u : size);
  if (filled < size && buf[filled] == L'\0') ++filled;
  buffer.assign(buf.begin(), buf.begin() + filled);
  return n;
}

namespace {

// Windows refuses to write a read-only INI file; a process that the host
// lets write anything (Wine run as root) refuses it here all the same.
bool RefusedAsReadOnly(const std::wstring& file) {
  if (!IsReadOnlyFile(file)) return false;
  SetLastError(ERROR_ACCESS_DENIED);
  return true;
}

}  // namespace

bool Win32PrivateProfile::WriteString(const std::string& section, const std::string& key,
                                      const std::string& value, const std::string& file) {
  const std::wstring path = Wide(file);
  if (RefusedAsReadOnly(path)) return false;
  return WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(value).c_str(),
                                    path.c_str()) != 0;
}

bool Win32PrivateProfile::Flush(const std::string& file) {
  const std::wstring path = Wide(file);
  if (RefusedAsReadOnly(path)) return false;
  // The flush form of the call always answers FALSE, whatever it did: the
  // writes before it have each reported their own outcome.
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
  return true;
}

}  // namespace kvx
