#include "platform/win32/registry_win32.h"

#include "platform/win32/windows_api.h"

#include <vector>

#include "platform/win32/wide_text.h"

namespace kvx {

bool Win32Registry::ReadDefaultValue(const std::string& key, size_t max_units, std::string& out) {
  if (max_units == 0) return false;
  std::vector<wchar_t> buffer(max_units, L'\0');
  LONG size = static_cast<LONG>(max_units * sizeof(wchar_t));
  if (RegQueryValueW(HKEY_CURRENT_USER, Wide(key).c_str(), buffer.data(), &size) != ERROR_SUCCESS)
    return false;
  // The buffer was zero-filled, so the text ends at the first NUL within
  // it; a value that filled it to the last unit has no terminator left.
  size_t units = 0;
  while (units < max_units && buffer[units] != L'\0') ++units;
  if (units == max_units) return false;
  out = Narrow(std::wstring_view(buffer.data(), units));
  return true;
}

bool Win32Registry::WriteDefaultValue(const std::string& key, const std::string& value) {
  const std::wstring text = Wide(value);
  return RegSetValueW(HKEY_CURRENT_USER, Wide(key).c_str(), REG_SZ, text.c_str(),
                      static_cast<DWORD>(text.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace kvx
