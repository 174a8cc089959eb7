// The cost of one request through the emulated machine: a calling-interface
// request and a port read, as the hardware access library makes them, next
// to the bare round trip of the emulator's socket (the floor both share).
// Usage: emulator_roundtrip_bench <kvxemu>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hwio/calling_interface.h"
#include "hwio/smbios_service.h"
#include "hwio/winio.h"
#include "platform/platform.h"
#include "platform/posix/emu_wire.h"
#include "platform/posix/machine_folder.h"

namespace {

int Emu(const std::string& kvxemu, const std::string& args) {
  return std::system(("'" + kvxemu + "' " + args + " >/dev/null").c_str());
}

template <typename F>
double MicrosPerCall(int n, F call) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) call();
  const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return took.count() / n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <kvxemu>\n", argv[0]);
    return 2;
  }
  char machine[] = "/tmp/kvx-bench-XXXXXX";
  if (!mkdtemp(machine)) return 1;
  setenv(kvx::kMachineFolderVariable, machine, 1);
  if (Emu(argv[1], "up --power on") != 0) return 1;
  {
    std::unique_ptr<kvx::Platform> p = kvx::CreatePlatform();
    kvx::WinIo io({*p->devices, *p->services, *p->process, *p->files, *p->console, *p->debug, *p->legacy, *p->sleeper});
    kvx::SMBiosService smbios(*p->debug, *p->smbios);
    smbios.InitSMBIOS();
    if (!io.InitializeWinIo()) {
      std::fprintf(stderr, "the driver did not open\n");
      return 1;
    }
    const int n = 20000;
    auto wire = kvx::EmuConnection::Connect(machine);
    const double ping = MicrosPerCall(n, [&] { wire->Call({"ping"}); });
    uint32_t value = 0;
    const double port = MicrosPerCall(n, [&] { io.GetPortVal(0x80, &value, 1); });
    bool ok = true;
    const double call = MicrosPerCall(n, [&] {
      kvx::CallingInterfaceRequest request{};
      request.stCmdBuf.cbClass = 17;
      request.stCmdBuf.cbSelect = 13;
      ok = kvx::CallInterface(io, smbios, *p->debug, request) && ok;
    });
    io.ShutdownWinIo();
    std::printf("emulator round trips, %d requests each:\n", n);
    std::printf("  socket ping (the floor)          %8.1f us\n", ping);
    std::printf("  port read (GetPortVal, 1 byte)   %8.1f us  (%.2fx the floor)\n", port, port / ping);
    std::printf("  calling interface (status)       %8.1f us  (%.2fx the floor)%s\n", call, call / ping,
                ok ? "" : "  SOME FAILED");
  }
  Emu(argv[1], "down");
  rmdir(machine);
  return 0;
}
