#include "platform/win32/device_io_win32.h"

#include "platform/win32/wide_text.h"

#if defined(__i386__)
// kernel32's first export on the legacy platform passes a call to a virtual
// device's service: the service id and the caller's EAX and ECX on the
// stack, every other register as the service reads it, the carry flag set
// on failure. The mapping function of the protected-mode interface takes
// the physical address in BX:CX and the size in SI:DI and gives the linear
// address in BX:CX. The stack is restored from the frame, whichever side
// removes the three words.
extern "C" uint32_t KvxCallVxdMap(const uint8_t* entry, uint32_t service, uint32_t function,
                                  uint32_t physical, uint32_t size);
__asm__(
    ".text\n"
    "_KvxCallVxdMap:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 20(%ebp), %ecx\n"
    "  movl %ecx, %ebx\n"
    "  shrl $16, %ebx\n"
    "  andl $0xFFFF, %ecx\n"
    "  movl 24(%ebp), %edi\n"
    "  movl %edi, %esi\n"
    "  shrl $16, %esi\n"
    "  andl $0xFFFF, %edi\n"
    "  movl 16(%ebp), %eax\n"
    "  pushl %ecx\n"
    "  pushl %eax\n"
    "  pushl 12(%ebp)\n"
    "  call *8(%ebp)\n"
    "  jc 1f\n"
    "  movzwl %bx, %eax\n"
    "  shll $16, %eax\n"
    "  movw %cx, %ax\n"
    "  jmp 2f\n"
    "1:\n"
    "  xorl %eax, %eax\n"
    "2:\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");
#endif

namespace kvx {

namespace {

class Win32Device : public Device {
 public:
  Win32Device(HANDLE handle, int& error) : handle_(handle), error_(error) {}
  ~Win32Device() override { CloseHandle(handle_); }
  Win32Device(const Win32Device&) = delete;
  Win32Device& operator=(const Win32Device&) = delete;

  bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
               uint32_t& returned) override {
    DWORD bytes = 0;
    const BOOL ok = DeviceIoControl(handle_, code, const_cast<void*>(in), in_size, out, out_size,
                                    &bytes, nullptr);
    returned = ok ? bytes : 0;
    if (!ok) error_ = static_cast<int>(GetLastError());
    return ok != FALSE;
  }

 private:
  HANDLE handle_;
  int& error_;
};

}  // namespace

std::unique_ptr<Device> Win32DeviceIo::Adopt(HANDLE handle) {
  return std::make_unique<Win32Device>(handle, error_);
}

std::unique_ptr<Device> Win32DeviceIo::Open(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error_ = static_cast<int>(GetLastError());
    return nullptr;
  }
  return Adopt(h);
}

// The legacy platform loads a device driver opened this way and unloads it
// when the handle is closed.
std::unique_ptr<Device> Win32DeviceIo::OpenLegacy(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error_ = static_cast<int>(GetLastError());
    return nullptr;
  }
  return Adopt(h);
}

std::string Win32DeviceIo::ErrorMessage(int error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
    message.pop_back();
  return Narrow(message);
}

const uint8_t* Win32LegacyPlatform::Kernel32(size_t& size) {
  size = 0;
  const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA("KERNEL32"));
  if (base == nullptr) return nullptr;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  size = nt->OptionalHeader.SizeOfImage;
  return base;
}

uintptr_t Win32LegacyPlatform::CallVmm(const uint8_t* entry, uint32_t service, uint32_t function,
                                       uint32_t arg1, uint32_t arg2) {
  if (entry == nullptr) return 0;
#if defined(__i386__)
  return KvxCallVxdMap(entry, service, function, arg1, arg2);
#else
  (void)service;
  (void)function;
  (void)arg1;
  (void)arg2;
  return 0;
#endif
}

}  // namespace kvx
