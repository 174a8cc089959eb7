// kvxio_check.exe: checks the emulated machine's driver and relay under
// Wine against a stand-in machine of its own.
//
//   kvxio_check DRIVER_SYS PHYSMEM_FILE KVXWINE_EXE
//
// It serves a stand-in of kvxemu's wire on a TCP port of 127.0.0.1, installs
// DRIVER_SYS as the kernel-driver service KVXIO with its Parameters'
// PhysicalMemory naming PHYSMEM_FILE (filled here with 4 MiB of a known
// pattern), starts "KVXWINE_EXE serve PORT", and drives "\\.\KVXIO" with
// DeviceIoControl: what the tool sees, and every request the driver sent
// to the stand-in. The drive "~" should lead to a folder that holds
// "kvxio_check.txt" (the prefix's dosdevices/~: link), so that the DOS
// device check can see Wine still opening files through it. Prints one line
// per failed check; exit 0 when all passed.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/wine/pipe_frames.h"
#include "emulator/wine/wine_machine.h"

namespace {

using kvx::Fields;
using kvx::NumberField;

constexpr DWORD kMap = 0x80102040, kUnmap = 0x80102044, kReadPort8 = 0x80102050, kReadPort32 = 0x80102058,
                kWritePort8 = 0x8010205C, kCallingInterface = 0x80102068, kPortRegisters = 0x80102084,
                kDefineDos = 0x8010208C, kRemoveDos = 0x80102090, kLegacyRead = 0x22000B;
constexpr uint32_t kPhysSize = 4u << 20;

int failures = 0;

void Check(bool ok, const char* what) {
  if (ok) return;
  ++failures;
  std::printf("FAIL: %s\n", what);
}

uint8_t Pattern(uint32_t at) { return static_cast<uint8_t>(at * 7 + (at >> 12)); }

uint32_t U32(const std::string& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

uint16_t Port(const std::string& record) {
  return record.size() < 2 ? 0 : static_cast<uint16_t>(static_cast<uint8_t>(record[0]) | static_cast<uint8_t>(record[1]) << 8);
}

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// ---- the stand-in machine ------------------------------------------------------

std::mutex lock;
std::vector<Fields> requests;
uint8_t ports[65536];
uint32_t next_section = 7;
std::vector<uint32_t> sections;

Fields Answer(const Fields& r) {
  std::lock_guard<std::mutex> hold(lock);
  requests.push_back(r);
  if (r[0] == "dev.open") return {"ok"};
  if (r[0] == "dev.unmapped") {
    for (size_t i = 0; i < sections.size(); ++i) {
      if (NumberField(sections[i]) == r[2]) {
        sections.erase(sections.begin() + static_cast<long>(i));
        return {"ok"};
      }
    }
    return kvx::ErrorReply(6);
  }
  if (r[0] != "dev.ioctl" || r.size() != 5) return kvx::ErrorReply(87);
  const uint32_t code = static_cast<uint32_t>(kvx::FieldNumber(r[2]));
  const std::string& in = r[3];
  std::string out;
  switch (code) {
    case kReadPort8:
      out = in;
      out[2] = static_cast<char>(ports[Port(in)]);
      return {"ok", out};
    case kWritePort8:
      ports[Port(in)] = static_cast<uint8_t>(in[2]);
      return {"ok", ""};
    case kReadPort32:  // the port number is the error to answer with
      return kvx::ErrorReply(static_cast<int>(Port(in)));
    case kCallingInterface:  // the command buffer, its first result the class
      out = in.substr(6, 36);
      out[20] = in[6];
      out[21] = in[7];
      return {"ok", out};
    case kPortRegisters:  // longer than the 16 bytes asked for
      return {"ok", std::string(20, 'r')};
    case kMap: {
      const uint32_t size = U32(in, 4), physical = U32(in, 8);
      const uint32_t base = physical & ~0xFFFu, end = (physical + size + 0xFFFu) & ~0xFFFu;
      out.assign(16, '\0');
      const uint32_t fields[3] = {next_section, size, base};
      std::memcpy(out.data(), fields, 12);
      sections.push_back(next_section++);
      return {"ok", out, NumberField(base), NumberField(end - base)};
    }
    case kDefineDos:
    case kRemoveDos:
    case kLegacyRead:
      return {"ok", code == kLegacyRead ? std::string("\x11\x22\x33\x44", 4) : std::string()};
    default:
      return kvx::ErrorReply(1);
  }
}

DWORD WINAPI ServeConnection(void* param) {
  const SOCKET s = reinterpret_cast<SOCKET>(param);
  const kvx::wine::ReadExactly read = [s](char* d, size_t n) {
    for (int got; n > 0; d += got, n -= static_cast<size_t>(got)) {
      if ((got = recv(s, d, static_cast<int>(n), 0)) <= 0) return false;
    }
    return true;
  };
  const kvx::wine::WriteAll write = [s](const char* d, size_t n) {
    for (int put; n > 0; d += put, n -= static_cast<size_t>(put)) {
      if ((put = send(s, d, static_cast<int>(n), 0)) <= 0) return false;
    }
    return true;
  };
  Fields request;
  while (kvx::wine::ReceiveFrame(read, request) && !request.empty() &&
         kvx::wine::SendFrame(write, Answer(request))) {
  }
  closesocket(s);
  return 0;
}

DWORD WINAPI Listen(void* param) {
  const SOCKET listener = reinterpret_cast<SOCKET>(param);
  for (;;) {
    const SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return 0;
    CloseHandle(CreateThread(nullptr, 0, ServeConnection, reinterpret_cast<void*>(s), 0, nullptr));
  }
}

int StartMachine() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof at;
  if (bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(listener, 8) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
    return 0;
  }
  CloseHandle(CreateThread(nullptr, 0, Listen, reinterpret_cast<void*>(listener), 0, nullptr));
  return ntohs(at.sin_port);
}

Fields LastRequest() {
  std::lock_guard<std::mutex> hold(lock);
  return requests.empty() ? Fields{} : requests.back();
}

size_t RequestCount() {
  std::lock_guard<std::mutex> hold(lock);
  return requests.size();
}

// ---- the Wine side ---------------------------------------------------------------

HANDLE StartRelay(const wchar_t* kvxwine, int port) {
  std::wstring line = L"\"" + std::wstring(kvxwine) + L"\" serve " + std::to_wstring(port);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(kvxwine, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return nullptr;
  }
  CloseHandle(pi.hThread);
  // Ready once its pipe answers.
  for (int i = 0; i < 200 && !WaitNamedPipeW(KVX_WINE_PIPE_WIN32, 50); ++i) Sleep(25);
  return pi.hProcess;
}

bool InstallDriver(const wchar_t* sys, const wchar_t* physmem) {
  wchar_t full[MAX_PATH], nt[MAX_PATH + 8];
  if (!GetFullPathNameW(physmem, MAX_PATH, full, nullptr)) return false;
  swprintf(nt, MAX_PATH + 8, L"\\??\\%ls", full);
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!scm) return false;
  SC_HANDLE s = CreateServiceW(scm, L"KVXIO", L"KVXIO", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, sys, nullptr, nullptr, nullptr,
                               nullptr, nullptr);
  if (!s) s = OpenServiceW(scm, L"KVXIO", SERVICE_ALL_ACCESS);
  CloseServiceHandle(scm);
  if (!s) return false;
  HKEY key;
  bool ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\KVXIO\\Parameters", 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS;
  if (ok) {
    ok = RegSetValueExW(key, KVX_WINE_PHYSMEM_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(nt),
                        static_cast<DWORD>((wcslen(nt) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  ok = ok && (StartServiceW(s, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING);
  CloseServiceHandle(s);
  return ok;
}

void RemoveDriver() {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE s = scm ? OpenServiceW(scm, L"KVXIO", SERVICE_ALL_ACCESS) : nullptr;
  if (s) {
    SERVICE_STATUS status;
    ControlService(s, SERVICE_CONTROL_STOP, &status);
    DeleteService(s);
    CloseServiceHandle(s);
  }
  if (scm) CloseServiceHandle(scm);
}

HANDLE OpenDevice() {
  return CreateFileW(L"\\\\.\\KVXIO", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One request; the error (0 on success) and the bytes returned.
DWORD Control(HANDLE h, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
              DWORD* returned = nullptr) {
  DWORD got = 0;
  const BOOL ok = DeviceIoControl(h, code, const_cast<void*>(in), in_size, out, out_size, &got, nullptr);
  if (returned) *returned = got;
  return ok ? 0 : GetLastError();
}

#pragma pack(push, 1)
struct PortRecord {
  uint16_t port;
  uint32_t value;
};
struct MapRecord {
  uint32_t section, size, physical, linear;
};
struct DosRecord {
  char target[256];
  char name[8];
};
#pragma pack(pop)

void CheckPorts(HANDLE h) {
  PortRecord w{0x80, 0x5A};
  Check(Control(h, kWritePort8, &w, sizeof w, nullptr, 0) == 0, "a port write succeeds");
  Check(LastRequest() == Fields{"dev.ioctl", "KVXIO", "2148540508", Bytes(&w, 6), "0"},
        "a port write is relayed as {dev.ioctl, KVXIO, code, record, 0}");
  PortRecord r{0x80, 0}, out{0, 0};
  DWORD got = 0;
  Check(Control(h, kReadPort8, &r, sizeof r, &out, sizeof out, &got) == 0, "a port read succeeds");
  Check(got == 6 && out.port == 0x80 && out.value == 0x5A, "a port read gives back the value written");
  Check(LastRequest() == Fields{"dev.ioctl", "KVXIO", "2148540496", Bytes(&r, 6), "6"},
        "a port read is relayed with its output size");

  // More bytes in a reply than the caller has room for: cut to its room.
  char regs[24];
  std::memset(regs, 0, sizeof regs);
  Check(Control(h, kPortRegisters, &w, sizeof w, regs, 16, &got) == 0 && got == 16 &&
            std::string(regs, 17) == std::string(16, 'r') + '\0',
        "a reply longer than the output is cut to the output's size");

  // A legacy request (METHOD_NEITHER) is relayed the same way.
  uint8_t legacy[7] = {0x70, 0, 0, 0, 0, 0, 4};
  uint32_t value = 0;
  Check(Control(h, kLegacyRead, legacy, 7, &value, 4, &got) == 0 && got == 4 && value == 0x44332211,
        "a legacy port read returns the machine's four bytes");
  Check(LastRequest() == Fields{"dev.ioctl", "KVXIO", "2228235", Bytes(legacy, 7), "4"},
        "a legacy port read is relayed with its own input");
}

void CheckCallingInterface(HANDLE h) {
  uint8_t request[175];
  for (size_t i = 0; i < sizeof request; ++i) request[i] = static_cast<uint8_t>(i * 3);
  request[6] = 0x11;  // the class
  request[7] = 0x00;
  uint8_t buffer[36];
  DWORD got = 0;
  Check(Control(h, kCallingInterface, request, sizeof request, buffer, sizeof buffer, &got) == 0 && got == 36,
        "a calling-interface request returns 36 bytes");
  Check(std::memcmp(buffer, request + 6, 20) == 0 && buffer[20] == 0x11 && buffer[21] == 0,
        "a calling-interface request returns the machine's command buffer");
  Check(LastRequest() == Fields{"dev.ioctl", "KVXIO", "2148540520", Bytes(request, 175), "36"},
        "a calling-interface request is relayed whole");
}

void CheckErrors(HANDLE h) {
  for (DWORD error : {1u, 2u, 5u, 6u, 8u, 31u, 87u, 122u, 1052u, 1167u}) {
    PortRecord r{static_cast<uint16_t>(error), 0}, out{};
    char what[96];
    std::snprintf(what, sizeof what, "the machine's error %lu is GetLastError %lu", error, error);
    const DWORD got = Control(h, kReadPort32, &r, sizeof r, &out, sizeof out);
    if (got != error) std::printf("  (got %lu)\n", got);
    Check(got == error, what);
  }
  Check(Control(h, 0x80102094, nullptr, 0, nullptr, 0) == 1, "an unknown code is the machine's error 1");
}

void CheckPhysicalMemory(HANDLE h, const wchar_t* physmem) {
  // A range inside a page, whose page is not on a 64 KiB boundary.
  MapRecord m{0, 32, 0xF1010, 0};
  DWORD got = 0;
  Check(Control(h, kMap, &m, sizeof m, &m, sizeof m, &got) == 0 && got == 16, "a map succeeds");
  Check(m.section == 7 && m.size == 32 && m.physical == 0xF1000, "a map returns the machine's record");
  Check(m.linear != 0, "a map returns a linear address");
  Check(m.linear % 0x1000 == 0, "the linear address is the address of the page's base");
  volatile uint8_t* view = reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(m.linear));
  bool same = m.linear != 0;
  for (uint32_t i = 0; same && i < 0x1000; ++i) same = view[i] == Pattern(0xF1000 + i);
  Check(same, "the view holds the physical memory file's bytes");
  if (m.linear) view[0x10] = static_cast<uint8_t>(~Pattern(0xF1010));
  HANDLE f = CreateFileW(physmem, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  uint8_t byte = 0;
  DWORD n = 0;
  SetFilePointer(f, 0xF1010, nullptr, FILE_BEGIN);
  Check(ReadFile(f, &byte, 1, &n, nullptr) && n == 1 && byte == static_cast<uint8_t>(~Pattern(0xF1010)),
        "a byte written through the view is in the file");
  CloseHandle(f);

  // Two views at once: the second one's bytes, at its own address.
  MapRecord m2{0, 8, 0x3FFFF8, 0};
  Check(Control(h, kMap, &m2, sizeof m2, &m2, sizeof m2) == 0 && m2.section == 8 && m2.linear != 0 &&
            reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(m2.linear))[0xFF8] == Pattern(0x3FFFF8),
        "a second map at the memory's end holds that end's bytes");

  MapRecord u{m.section + 100, 0, 0, m.linear};
  Check(Control(h, kUnmap, &u, sizeof u, nullptr, 0) == 6, "an unmap of an unknown section is error 6");
  u = MapRecord{m.section, 0, 0, m.linear + 0x1000};
  Check(Control(h, kUnmap, &u, sizeof u, nullptr, 0) == 87, "an unmap outside the view is error 87");
  Check(Control(h, kUnmap, &u, 8, nullptr, 0) == 87, "a short unmap record is error 87");
  const size_t before = RequestCount();
  u = MapRecord{m.section, 0, 0, m.linear + 0x10};
  Check(Control(h, kUnmap, &u, sizeof u, nullptr, 0) == 0, "an unmap of the view succeeds");
  Check(RequestCount() == before + 1 && LastRequest() == Fields{"dev.unmapped", "KVXIO", "7"},
        "an unmap is relayed as {dev.unmapped, KVXIO, section} only when it succeeds");
  MEMORY_BASIC_INFORMATION info{};
  VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(m.linear)), &info, sizeof info);
  Check(info.State == MEM_FREE, "the view is gone after its unmap");
  Check(Control(h, kUnmap, &u, sizeof u, nullptr, 0) == 6, "a second unmap of the same view is error 6");
  u = MapRecord{m2.section, 0, 0, m2.linear};
  Check(Control(h, kUnmap, &u, sizeof u, nullptr, 0) == 0, "the second view unmaps too");
}

void CheckDosDevices(HANDLE h) {
  DosRecord d{};
  std::strcpy(d.target, "\\Device\\KvxFlashVolume1");
  std::strcpy(d.name, "~");
  Check(Control(h, kDefineDos, &d, sizeof d, nullptr, 0) == 0, "a DOS device definition succeeds");
  Check(LastRequest() == Fields{"dev.ioctl", "KVXIO", "2148540556", Bytes(&d, sizeof d), "0"},
        "a DOS device definition is relayed whole");
  wchar_t target[512] = L"";
  Check(QueryDosDeviceW(L"~:", target, 512) && std::wstring(target) == L"\\Device\\KvxFlashVolume1",
        "QueryDosDevice lists the drive ~ with its target");
  HANDLE f = CreateFileW(L"~:\\kvxio_check.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) std::printf("  (open ~:\\kvxio_check.txt: error %lu)\n", GetLastError());
  Check(f != INVALID_HANDLE_VALUE, "files open through the drive ~ while it is defined");
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  DosRecord r{};
  std::strcpy(r.name, "~");
  Check(Control(h, kRemoveDos, &r, sizeof r, nullptr, 0) == 0, "a DOS device removal succeeds");
  Check(!QueryDosDeviceW(L"~:", target, 512), "the drive ~ is no longer listed after its removal");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kvxio_check DRIVER_SYS PHYSMEM_FILE KVXWINE_EXE\n");
    return 2;
  }
  const wchar_t* physmem = argv[2];
  {
    std::string memory(kPhysSize, '\0');
    for (uint32_t i = 0; i < kPhysSize; ++i) memory[i] = static_cast<char>(Pattern(i));
    HANDLE f = CreateFileW(physmem, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    if (f == INVALID_HANDLE_VALUE || !WriteFile(f, memory.data(), kPhysSize, &n, nullptr) || n != kPhysSize) {
      std::fprintf(stderr, "kvxio_check: cannot write the physical memory file\n");
      return 2;
    }
    CloseHandle(f);
  }
  const int port = StartMachine();
  if (!port || !InstallDriver(argv[1], physmem)) {
    std::fprintf(stderr, "kvxio_check: cannot start the stand-in machine or the driver (error %lu)\n",
                 GetLastError());
    return 2;
  }

  // No relay yet: no machine. Wine's CreateFile does not wait for the
  // driver's answer to an open, so a refused open may show only in the
  // handle's requests.
  PortRecord r{0x80, 0}, out{};
  HANDLE h = OpenDevice();
  const DWORD open_error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  const DWORD request_error = open_error ? open_error : Control(h, kReadPort8, &r, sizeof r, &out, sizeof out);
  if (request_error != 1167) std::printf("  (open: error %lu, request: error %lu)\n", open_error, request_error);
  Check(request_error == 1167, "without the machine's pipe, opening or the first request is error 1167");
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);

  HANDLE relay = StartRelay(argv[3], port);
  Check(relay != nullptr, "the relay starts");
  const size_t before_open = RequestCount();
  h = OpenDevice();
  if (h == INVALID_HANDLE_VALUE) std::printf("  (open: error %lu)\n", GetLastError());
  Check(h != INVALID_HANDLE_VALUE, "\\\\.\\KVXIO opens while the machine is up");
  if (h != INVALID_HANDLE_VALUE) {
    CheckPorts(h);
    {
      std::lock_guard<std::mutex> hold(lock);
      Check(requests.size() > before_open && requests[before_open] == Fields{"dev.open", "KVXIO", "nt"},
            "an open is relayed as {dev.open, KVXIO, nt} before the handle's first request");
    }
    CheckCallingInterface(h);
    CheckErrors(h);
    CheckPhysicalMemory(h, physmem);
    CheckDosDevices(h);
  }
  {
    // A second relay on the same machine is refused.
    HANDLE second = StartRelay(argv[3], port);
    DWORD code = 0;
    Check(second && WaitForSingleObject(second, 10000) == WAIT_OBJECT_0 && GetExitCodeProcess(second, &code) &&
              code == 1,
          "a second relay refuses to serve");
    if (second) CloseHandle(second);
  }

  // The relay goes: requests fail with 1167; it comes back: they work again.
  if (relay) {
    TerminateProcess(relay, 0);
    WaitForSingleObject(relay, 10000);
    CloseHandle(relay);
  }
  Check(Control(h, kReadPort8, &r, sizeof r, &out, sizeof out) == 1167, "with the relay gone, a request is 1167");
  HANDLE h2 = OpenDevice();
  Check(h2 == INVALID_HANDLE_VALUE ? GetLastError() == 1167
                                   : Control(h2, kReadPort8, &r, sizeof r, &out, sizeof out) == 1167,
        "with the relay gone, a new handle's open or request is error 1167");
  if (h2 != INVALID_HANDLE_VALUE) CloseHandle(h2);
  relay = StartRelay(argv[3], port);
  Check(Control(h, kReadPort8, &r, sizeof r, &out, sizeof out) == 0 && out.value == 0x5A,
        "with the relay back, the same handle works again");
  CloseHandle(h);
  if (relay) {
    TerminateProcess(relay, 0);
    CloseHandle(relay);
  }
  RemoveDriver();
  std::printf(failures ? "%d check(s) failed\n" : "all checks passed\n", failures);
  return failures ? 1 : 0;
}
