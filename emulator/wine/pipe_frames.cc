#include "emulator/wine/pipe_frames.h"

#include "emulator/wine/wine_machine.h"

namespace kvx::wine {

bool ReceiveFrame(const ReadExactly& read, Fields& fields) {
  fields.clear();
  char head[4];
  if (!read(head, 4)) return false;
  const uint32_t size = FrameBodySize(head);
  if (size == 0) return false;
  std::string body(size, '\0');
  if (!read(body.data(), size)) return false;
  return DecodeFrameBody(body, fields);
}

bool SendFrame(const WriteAll& write, const Fields& fields) {
  const std::string frame = EncodeFrame(fields);
  return write(frame.data(), frame.size());
}

ReadExactly HandleReader(HANDLE h) {
  return [h](char* data, size_t size) {
    while (size > 0) {
      DWORD got = 0;
      if (!ReadFile(h, data, static_cast<DWORD>(size), &got, nullptr) || got == 0) return false;
      data += got;
      size -= got;
    }
    return true;
  };
}

WriteAll HandleWriter(HANDLE h) {
  return [h](const char* data, size_t size) {
    while (size > 0) {
      DWORD put = 0;
      if (!WriteFile(h, data, static_cast<DWORD>(size), &put, nullptr) || put == 0) return false;
      data += put;
      size -= put;
    }
    return true;
  };
}

Fields CallMachine(const Fields& request, DWORD wait_ms) {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  const DWORD until = GetTickCount() + wait_ms;
  for (;;) {
    pipe = CreateFileW(KVX_WINE_PIPE_WIN32, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    const DWORD now = GetTickCount();
    if ((error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND) || static_cast<LONG>(until - now) <= 0) {
      return ErrorReply(kErrorDeviceNotConnected);
    }
    if (error == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(KVX_WINE_PIPE_WIN32, until - now);
    } else {
      Sleep(50);
    }
  }
  Fields reply;
  const bool ok = SendFrame(HandleWriter(pipe), request) && ReceiveFrame(HandleReader(pipe), reply) && !reply.empty();
  CloseHandle(pipe);
  return ok ? reply : ErrorReply(kErrorDeviceNotConnected);
}

}  // namespace kvx::wine
