#include "flash/flash_cycle.h"

#include "core/diag.h"

namespace kvx {

namespace {
constexpr int kMountAttempts = 10;
}  // namespace

bool FlashCycle::EnsurePoweredOn(int& status) {
  status = d_.module.CheckFlashStatus();
  Diag(d_.debug, " The Flash status is %d ", status);
  if (status == 2) return true;
  if (status != 1) return false;
  d_.debug.Write("Flash power on. ");
  if (!d_.module.PowerOn()) {
    d_.debug.Write("Flash power on failed. ");
    return false;
  }
  powered_by_us_ = true;
  d_.sleeper.Sleep(500);
  return true;
}

bool FlashCycle::BeginFlash(int& status) {
  found_off_ = false;
  powered_by_us_ = false;
  drive_named_ = false;
  const bool open = Open(status);
  if (!open) {
    if (found_off_ && powered_by_us_) LeaveAsFound();
    // A failed opening ends the run: the sound events it blanked go back,
    // also when the module stays on (found on, or power-cycled by a mount
    // that did not answer).
    d_.module.RestoreDeviceSounds();
  }
  return open;
}

bool FlashCycle::Open(int& status) {
  d_.debug.Write(" Starting to check flash .... ");
  const bool powered = EnsurePoweredOn(status);
  found_off_ = status == 1;
  if (!powered) {
    d_.debug.Write(" FlashPowerOn Failed");
    return false;
  }
  d_.debug.Write(" FlashPowerOn Successfully");
  bool outcome = false;
  int attempts = 0;
  while (true) {
    const int mount = d_.utility.NotifyServiceMountFlash();
    if (mount == 0) {
      drive_named_ = true;
      break;
    }
    d_.sleeper.Sleep(500);
    ++attempts;
    d_.debug.Write("CUtility::NotifyServiceMountFlash failed");
    if (mount == -2) {
      d_.debug.Write("Flash power off");
      d_.module.PowerOff();
      d_.sleeper.Sleep(1000);
      if (!EnsurePoweredOn(status)) return false;
    }
    if (attempts >= kMountAttempts) break;
  }
  if (drive_named_) {
    outcome = d_.utility.NotifyServiceUnLockFlash() != 0;
    if (!outcome) d_.debug.Write("CUtility::NotifyServiceUnLockFlash failed");
  }
  Diag(d_.debug, "flashstatus ==1 and Mountflashsuccessful and the function return is %d ", outcome ? 1 : 0);
  if (outcome) d_.state.flash_root = "~:";
  return outcome;
}

void FlashCycle::LeaveAsFound() {
  d_.debug.Write("BeginFlash failed after this run powered the module on: powering it off again");
  if (drive_named_) {
    d_.utility.NotifyServiceUnMountFlash();
    d_.io.InitializeWinIo();
    d_.io.DeleteDosDevice("~");
    d_.io.ShutdownWinIo();
  }
  d_.module.PowerOff();
  powered_by_us_ = false;
}

bool FlashCycle::EndFlash() {
  const bool closed = Close();
  // The close ends the run whatever its outcome: the sound events this run
  // blanked go back, also when the module was found off already or stays
  // on because the unmount or the power-off failed.
  d_.module.RestoreDeviceSounds();
  return closed;
}

bool FlashCycle::Close() {
  if (d_.utility.NotifyServiceUnMountFlash() == 0) {
    d_.debug.Write("CUtility::NotifyServiceUnMountFlash failed .... ");
    return false;
  }
  d_.debug.Write("When End Flash, Begin CheckFlashStatus");
  const int status = d_.module.CheckFlashStatus();
  Diag(d_.debug, "When End Flash, The flashstatus is %d", status);
  if (status == 2) {
    d_.debug.Write("EndFlash::flashstatus is 2  .... ");
    d_.io.InitializeWinIo();
    d_.io.DeleteDosDevice("~");
    d_.io.ShutdownWinIo();
    d_.sleeper.Sleep(500);
    return d_.module.PowerOff();
  }
  return status == 1;
}

}  // namespace kvx
