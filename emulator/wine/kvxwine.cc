// kvxwine.exe: "serve PORT" relays the machine's pipe to kvxemu; every
// other step is an administrative one (kvxwine_admin.cc).
#include "emulator/wine/kvxwine.h"

// winsock2.h before windows.h (pipe_frames.h brings the latter).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "emulator/wine/pipe_frames.h"
#include "emulator/wine/wine_machine.h"

namespace kvx::wine {

namespace {

// Reading and writing whole buffers on a connected socket.
ReadExactly SocketReader(SOCKET s) {
  return [s](char* data, size_t size) {
    while (size > 0) {
      const int got = recv(s, data, static_cast<int>(size), 0);
      if (got <= 0) return false;
      data += got;
      size -= static_cast<size_t>(got);
    }
    return true;
  };
}

WriteAll SocketWriter(SOCKET s) {
  return [s](const char* data, size_t size) {
    while (size > 0) {
      const int put = send(s, data, static_cast<int>(size), 0);
      if (put <= 0) return false;
      data += put;
      size -= static_cast<size_t>(put);
    }
    return true;
  };
}

// One whole frame from `read` to `write`, its bytes unchanged; false when
// either side has gone or the frame is out of bounds.
bool RelayFrame(const ReadExactly& read, const WriteAll& write) {
  char head[4];
  if (!read(head, 4)) return false;
  const uint32_t size = FrameBodySize(head);
  if (size == 0) return false;
  std::string frame(head, 4);
  frame.resize(4 + size);
  return read(frame.data() + 4, size) && write(frame.data(), frame.size());
}

SOCKET ConnectMachine(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  // One small frame each way per request: no waiting to fill a segment.
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return s;
}

struct Client {
  HANDLE pipe;
  int port;
};

// One pipe client: its own connection to kvxemu, requests and replies in
// turn until either side closes. A client whose machine cannot be reached
// finds its pipe closed before any reply.
DWORD WINAPI ServeClient(void* param) {
  Client* c = static_cast<Client*>(param);
  const SOCKET s = ConnectMachine(c->port);
  if (s != INVALID_SOCKET) {
    const ReadExactly from_pipe = HandleReader(c->pipe), from_machine = SocketReader(s);
    const WriteAll to_pipe = HandleWriter(c->pipe), to_machine = SocketWriter(s);
    while (RelayFrame(from_pipe, to_machine) && RelayFrame(from_machine, to_pipe)) {
    }
    closesocket(s);
  }
  FlushFileBuffers(c->pipe);
  DisconnectNamedPipe(c->pipe);
  CloseHandle(c->pipe);
  delete c;
  return 0;
}

HANDLE NewInstance(bool first) {
  return CreateNamedPipeW(KVX_WINE_PIPE_WIN32,
                          PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                          64 * 1024, 64 * 1024, 0, nullptr);
}

// A decimal TCP port, 1..65535; 0 when `text` is not one.
int PortNumber(const wchar_t* text) {
  long value = 0;
  if (*text == L'\0') return 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p < L'0' || *p > L'9') return 0;
    value = value * 10 + (*p - L'0');
    if (value > 65535) return 0;
  }
  return static_cast<int>(value);
}

}  // namespace

int RunRelay(int port) {
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "kvxwine: serve: the port must be a number from 1 to 65535\n");
    return 1;
  }
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    std::fprintf(stderr, "kvxwine: serve: no sockets (WSAStartup failed)\n");
    return 1;
  }
  // One relay per machine: a second one would share the pipe's name and
  // take clients in turn with the first (Wine does not refuse a second
  // server of a pipe that asks to be the first instance).
  HANDLE only = CreateMutexW(nullptr, TRUE, L"Local\\kvxwine.relay");
  if (!only || GetLastError() == ERROR_ALREADY_EXISTS) {
    std::fprintf(stderr, "kvxwine: serve: the machine's relay is already running\n");
    WSACleanup();
    return 1;
  }
  HANDLE next = NewInstance(true);
  if (next == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "kvxwine: serve: cannot create the machine's pipe (error %lu)\n", GetLastError());
    WSACleanup();
    return 1;
  }
  for (;;) {
    HANDLE pipe = next;
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
      CloseHandle(pipe);
      next = NewInstance(false);
      if (next == INVALID_HANDLE_VALUE) break;
      continue;
    }
    // The next client's instance stands ready before this one is served.
    next = NewInstance(false);
    Client* client = new Client{pipe, port};
    HANDLE thread = CreateThread(nullptr, 0, ServeClient, client, 0, nullptr);
    if (thread) {
      CloseHandle(thread);
    } else {
      delete client;
      DisconnectNamedPipe(pipe);
      CloseHandle(pipe);
    }
    if (next == INVALID_HANDLE_VALUE) break;
  }
  std::fprintf(stderr, "kvxwine: serve: cannot create the machine's pipe (error %lu)\n", GetLastError());
  WSACleanup();
  return 1;
}

}  // namespace kvx::wine

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wcscmp(argv[1], L"serve") == 0) {
    if (argc != 3) {
      std::fprintf(stderr, "usage: kvxwine serve PORT\n");
      return 1;
    }
    return kvx::wine::RunRelay(kvx::wine::PortNumber(argv[2]));
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: kvxwine serve PORT | kvxwine STEP ARGUMENTS...\n");
    return 1;
  }
  return kvx::wine::RunAdmin(argc - 1, argv + 1);
}
