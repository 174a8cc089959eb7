#include "platform/win32/named_objects_win32.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

namespace {

constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

class Win32Mutex : public NamedMutex {
 public:
  explicit Win32Mutex(HANDLE h) : h_(h) {}
  ~Win32Mutex() override {
    for (; owned_ > 0; --owned_) ReleaseMutex(h_);
    CloseHandle(h_);
  }
  WaitResult Wait(uint32_t timeout_ms) override {
    switch (WaitForSingleObject(h_, timeout_ms)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:  // its holder ended without releasing it
        ++owned_;
        return WaitResult::kOwned;
      case WAIT_TIMEOUT:
        return WaitResult::kTimedOut;
      default:
        return WaitResult::kFailed;
    }
  }
  bool Release() override {
    if (owned_ == 0 || !ReleaseMutex(h_)) return false;
    --owned_;
    return true;
  }

 private:
  HANDLE h_;
  unsigned owned_ = 0;
};

class Win32View : public MappingView {
 public:
  Win32View(void* base, size_t size) : base_(base), size_(size) {}
  ~Win32View() override { UnmapViewOfFile(base_); }
  unsigned char* data() override { return static_cast<unsigned char*>(base_); }
  size_t size() const override { return size_; }

 private:
  void* base_;
  size_t size_;
};

class Win32Mapping : public NamedMapping {
 public:
  explicit Win32Mapping(HANDLE h) : h_(h) {}
  ~Win32Mapping() override { CloseHandle(h_); }
  std::unique_ptr<MappingView> MapView(size_t size) override {
    // The system refuses a view larger than the mapping.
    void* base = MapViewOfFile(h_, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (base == nullptr) return nullptr;
    return std::make_unique<Win32View>(base, size);
  }

 private:
  HANDLE h_;
};

}  // namespace

std::unique_ptr<NamedMutex> Win32NamedObjects::CreateMutex(const std::string& name,
                                                           bool* already_existed) {
  const std::wstring wide = Wide(name);
  HANDLE h = CreateMutexW(nullptr, FALSE, wide.c_str());
  bool existed = h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  if (h == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
    // Created by a user whose rights allow this one to wait, not to create.
    h = OpenMutexW(kMutexAccess, FALSE, wide.c_str());
    existed = h != nullptr;
  }
  if (already_existed) *already_existed = existed;
  if (h == nullptr) return nullptr;
  return std::make_unique<Win32Mutex>(h);
}

std::unique_ptr<NamedMutex> Win32NamedObjects::OpenMutex(const std::string& name) {
  const HANDLE h = OpenMutexW(kMutexAccess, FALSE, Wide(name).c_str());
  if (h == nullptr) return nullptr;
  return std::make_unique<Win32Mutex>(h);
}

std::unique_ptr<NamedMapping> Win32NamedObjects::CreateFileMapping(const std::string& name,
                                                                   size_t size,
                                                                   bool* already_existed) {
  const uint64_t bytes = size;
  const HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(bytes >> 32), static_cast<DWORD>(bytes),
                                      Wide(name).c_str());
  if (already_existed) *already_existed = h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  if (h == nullptr) return nullptr;
  return std::make_unique<Win32Mapping>(h);
}

std::unique_ptr<NamedMapping> Win32NamedObjects::OpenFileMapping(const std::string& name) {
  const HANDLE h = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, Wide(name).c_str());
  if (h == nullptr) return nullptr;
  return std::make_unique<Win32Mapping>(h);
}

}  // namespace kvx
