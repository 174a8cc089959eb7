// The test folders on Windows: below the user's temp folder, removed with
// everything in them, read-only files included; a link inside is removed,
// never followed. Paths are UTF-8.
#include "platform/win32/windows_api.h"

#include <cstdlib>
#include <string>

#include "platform/win32/file_system_win32.h"
#include "platform/win32/wide_text.h"
#include "tests/temp_dir.h"

namespace kvx::testing {

namespace {

void RemoveTreeWide(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = folder + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveTreeWide(full);
      else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(full.c_str());  // a folder link: the link only
      else
        DeleteFileW(full.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

const char TempDir::kSeparator = '\\';

TempDir::TempDir() {
  Win32FileSystem files;
  const std::string temp = files.TempFolder();
  for (unsigned i = 0; path_.empty() && i < 1000; ++i) {
    const std::string candidate = temp + "kvxtest-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(GetTickCount()) + "-" + std::to_string(i);
    if (files.CreateDirectory(candidate)) path_ = candidate;
  }
  if (path_.empty()) std::abort();
}

TempDir::~TempDir() { RemoveTree(path_); }

void MakeDirs(const std::string& path) {
  const std::wstring wide = Wide(path);
  for (size_t pos = 0; pos != std::wstring::npos;) {
    pos = wide.find_first_of(L"\\/", pos + 1);
    CreateDirectoryW(wide.substr(0, pos).c_str(), nullptr);
  }
}

void RemoveTree(const std::string& path) {
  if (!path.empty()) RemoveTreeWide(Wide(path));
}

}  // namespace kvx::testing
