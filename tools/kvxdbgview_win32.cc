// kvxdbgview.exe: the viewer of the system's debugger output stream, by the
// protocol that Windows debug viewers share: the viewer creates the events
// DBWIN_BUFFER_READY and DBWIN_DATA_READY and the 4 KiB mapping
// DBWIN_BUFFER; a program's OutputDebugString waits for the buffer to be
// ready, writes its process id and its text (narrow, in the system's ANSI
// code page, zero-terminated) and signals that data is ready.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
#include "tools/tool_options.h"

namespace {

const char kUsage[] =
    "Usage: kvxdbgview [--ready FILE] [--output FILE]\n"
    "\n"
    "Shows the debugger output of the programs of this session (the\n"
    "DBWIN_BUFFER protocol of Windows debug viewers): each message on a line of\n"
    "its own, in UTF-8, a line end at the message's end dropped. Runs until\n"
    "interrupted (Ctrl-C or Ctrl-Break).\n"
    "\n"
    KVX_DBGVIEW_OPTIONS_USAGE
    "\n"
    "Exit codes: 0 stopped; 1 bad arguments; 2 the stream cannot be attached\n"
    "(another viewer or a debugger holds it, or FILE cannot be written).\n";

constexpr DWORD kBufferSize = 4096;

volatile LONG g_stop = 0;

BOOL WINAPI OnControl(DWORD) {
  InterlockedExchange(&g_stop, 1);
  return TRUE;
}

// A viewer's object: created here, or null when another viewer has it.
HANDLE CreateOwn(HANDLE h) {
  if (h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    return nullptr;
  }
  return h;
}

// The narrow text of the buffer, in the system's ANSI code page, as UTF-8.
std::string AnsiToUtf8(const char* text, size_t size) {
  if (size == 0) return std::string();
  const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), wide.data(), n);
  return kvx::Narrow(wide);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(kvx::Narrow(argv[i]));
  kvx::DbgviewOptions options;
  std::string bad;
  const kvx::ToolArguments parsed = kvx::ParseDbgviewArguments(args, options, bad);
  const int outcome = kvx::ArgumentsOutcome(parsed, "kvxdbgview", kUsage, bad, 1);
  if (outcome >= 0) return outcome;

  const HANDLE buffer_ready = CreateOwn(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
  const HANDLE data_ready = CreateOwn(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
  const HANDLE mapping = CreateOwn(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                      0, kBufferSize, L"DBWIN_BUFFER"));
  void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kBufferSize) : nullptr;
  if (buffer_ready == nullptr || data_ready == nullptr || view == nullptr) {
    std::fprintf(stderr, "kvxdbgview: another viewer or a debugger holds the debugger output\n");
    return 2;
  }

  std::FILE* out = stdout;
  if (!options.output.empty() &&
      (out = _wfopen(kvx::Wide(options.output).c_str(), L"wb")) == nullptr) {
    std::fprintf(stderr, "kvxdbgview: cannot write %s\n", options.output.c_str());
    return 2;
  }
  SetConsoleCtrlHandler(OnControl, TRUE);
  if (!options.ready.empty()) {
    if (std::FILE* r = _wfopen(kvx::Wide(options.ready).c_str(), L"wb")) std::fclose(r);
  }

  const char* text = static_cast<const char*>(view) + sizeof(DWORD);
  const size_t room = kBufferSize - sizeof(DWORD);
  SetEvent(buffer_ready);
  while (!g_stop) {
    if (WaitForSingleObject(data_ready, 200) != WAIT_OBJECT_0) continue;
    size_t size = 0;
    while (size < room && text[size] != '\0') ++size;
    const std::string message = AnsiToUtf8(text, size);
    kvx::PrintDebugMessage(out, message.data(), message.size());
    SetEvent(buffer_ready);
  }
  if (out != stdout) std::fclose(out);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(data_ready);
  CloseHandle(buffer_ready);
  return 0;
}
