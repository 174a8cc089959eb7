#pragma once
// Frames of the emulated machine's wire over a Windows byte stream (the
// named pipe of the machine under Wine, or a socket's HANDLE-like reader):
// whole frames only, so a peer that goes away mid-frame ends the stream.
#include <windows.h>

#include <functional>

#include "platform/emu_frame.h"

namespace kvx::wine {

// Reads or writes exactly `size` bytes; false when the stream ends first.
using ReadExactly = std::function<bool(char* data, size_t size)>;
using WriteAll = std::function<bool(const char* data, size_t size)>;

// One frame read from `read`; false at the end of the stream or on a bad frame.
bool ReceiveFrame(const ReadExactly& read, Fields& fields);
// One frame written to `write`; false when the peer is gone.
bool SendFrame(const WriteAll& write, const Fields& fields);

// The two over a pipe or file HANDLE (ReadFile/WriteFile, synchronous).
ReadExactly HandleReader(HANDLE h);
WriteAll HandleWriter(HANDLE h);

// One request and its reply over a fresh connection to the machine's pipe
// (KVX_WINE_PIPE_WIN32), waiting up to `wait_ms` for a free instance.
// A machine that does not answer gives {"err", "1167"}.
Fields CallMachine(const Fields& request, DWORD wait_ms = 5000);

}  // namespace kvx::wine
