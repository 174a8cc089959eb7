#pragma once
// kvxwine.exe, the emulated machine's own program inside Wine: the relay
// between the machine's pipe and kvxemu (kvxwine.cc), and the installation
// and service steps kvxemu asks of the Wine side (kvxwine_admin.cc).

namespace kvx::wine {

// Serves the machine's pipe and relays each connection to kvxemu on
// 127.0.0.1:`port` until the process is stopped. Returns an exit code.
int RunRelay(int port);

// One administrative step: `args` are the words after the program name
// ("install ...", "service NAME start", ...). Returns an exit code; a
// failure is one line on standard error.
int RunAdmin(int argc, wchar_t** args);

}  // namespace kvx::wine
