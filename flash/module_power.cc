#include "flash/module_power.h"

#include "core/diag.h"

namespace kvx {

namespace {
constexpr size_t kSoundBuffer = 260;  // wide characters, terminator included
}  // namespace

bool FlashModule::Call(uint32_t arg1, uint32_t arg2, sCMD_BUF& reply) {
  CallingInterfaceRequest request{};
  request.port = 178;
  request.code = 13;
  request.stCmdBuf.cbClass = 17;
  request.stCmdBuf.cbSelect = 13;
  request.stCmdBuf.cbArg[0] = arg1;
  request.stCmdBuf.cbArg[1] = arg2;
  const bool ok = CallInterface(d_.io, d_.smbios, d_.debug, request);
  reply = request.stCmdBuf;
  return ok;
}

int FlashModule::CheckFlashStatus() {
  d_.smbios.InitSMBIOS();
  if (!d_.io.InitializeWinIo()) {
    d_.debug.Write("Failed when InitializeWinIo.");
    return 0;
  }
  sCMD_BUF reply{};
  int status;
  bool bits_said = false;  // statuses -1 and -2 from the status bits
  if (!Call(0, 0, reply)) {
    d_.debug.Write(" Flash module check flash status and CallInterface failed");
    status = -3;
  } else if (const int32_t result = static_cast<int32_t>(reply.u32Res[0]); result != 0) {
    Diag(d_.debug, "The buf.stCmdBuf.u32Res[0] is %d. in CheckFlashStatus", result);
    if (result == -2) {
      status = -5;
    } else if (result == -1) {
      d_.debug.Write("Failed when read bios data.");
      status = 0;
    } else {
      status = -6;
    }
  } else {
    const uint8_t bits = static_cast<uint8_t>(reply.u32Res[1] & 0xFF);
    if (!(bits & 0x08)) {
      status = -2;
      bits_said = true;
    } else if (!(bits & 0x10)) {
      status = -1;
      bits_said = true;
    } else {
      status = (bits & 0x20) ? 2 : 1;
    }
  }
  if (!bits_said) d_.debug.Write("Before ShutdownWinIo in CheckFlashStatus");
  d_.io.ShutdownWinIo();
  Diag(d_.debug, "After ShutdownWinIo in CheckFlashStatus and the iResult is %d", status);
  return status;
}

bool FlashModule::PowerOn() {
  MuteDeviceSounds();
  d_.smbios.InitSMBIOS();
  if (!d_.io.InitializeWinIo()) return false;
  sCMD_BUF reply{};
  if (!Call(1, 3, reply)) {
    d_.debug.Write(" Flash module poweron and CallInterface failed");
    d_.io.ShutdownWinIo();
    return false;
  }
  Diag(d_.debug, "The buf.stCmdBuf.u32Res[0] is %d. in PowerOn", static_cast<int32_t>(reply.u32Res[0]));
  d_.io.ShutdownWinIo();
  return true;
}

bool FlashModule::PowerOff() {
  d_.smbios.InitSMBIOS();
  if (!d_.io.InitializeWinIo()) return false;
  sCMD_BUF reply{};
  if (!Call(1, 2, reply)) {
    d_.debug.Write(" Flash module poweroff and CallInterface failed");
    d_.io.ShutdownWinIo();
    return false;
  }
  d_.io.ShutdownWinIo();
  RestoreDeviceSounds();
  return true;
}

bool FlashModule::MuteDeviceSounds() {
  connect_.clear();
  disconnect_.clear();
  if (!d_.registry.ReadDefaultValue(kConnectSoundKey, kSoundBuffer, connect_)) {
    connect_.clear();
    return false;
  }
  if (!d_.registry.ReadDefaultValue(kDisconnectSoundKey, kSoundBuffer, disconnect_)) {
    // Nothing was blanked, so nothing may be written back later.
    connect_.clear();
    disconnect_.clear();
    return false;
  }
  if (connect_.empty() && disconnect_.empty()) return true;
  d_.registry.WriteDefaultValue(kConnectSoundKey, "");
  d_.registry.WriteDefaultValue(kDisconnectSoundKey, "");
  return true;
}

bool FlashModule::RestoreDeviceSounds() {
  if (connect_.empty() && disconnect_.empty()) return true;
  d_.registry.WriteDefaultValue(kConnectSoundKey, connect_);
  d_.registry.WriteDefaultValue(kDisconnectSoundKey, disconnect_);
  connect_.clear();
  disconnect_.clear();
  return true;
}

bool FlashModule::MapFlashDrive(const std::string& device) {
  const std::string root = Format("%s:\\", "~");
  d_.io.InitializeWinIo();
  d_.io.CreateDosDevice(device, "~");
  const int error = d_.files.Access(root, 6);
  const bool reachable = error == 0 || error == 13;
  if (!reachable) {
    Diag(d_.debug, "Cannot access %s, error no is %d", root.c_str(), error);
    d_.io.DeleteDosDevice("~");
  }
  d_.io.ShutdownWinIo();
  return reachable;
}

}  // namespace kvx
