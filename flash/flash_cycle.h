#pragma once
// The flash cycle: power the module (when it is off), have the companion
// service mount the volume as drive "~" and unlock it, publish the flash
// root "~:"; and at the end unmount, remove the drive and power off. A
// cycle that fails after this run powered the module on powers it off
// again. The device sound events that powering the module on blanked are
// put back whatever ends the run: a failed opening, or the close with any
// outcome.
#include "core/flash_services.h"
#include "core/tool_context.h"
#include "flash/module_power.h"
#include "platform/sleeper.h"
#include "service/utility.h"

namespace kvx {

struct FlashCycleDeps {
  ToolState& state;
  DebugOutput& debug;
  CUtility& utility;
  FlashModule& module;
  WinIo& io;
  Sleeper& sleeper;
};

class FlashCycle : public FlashServices {
 public:
  explicit FlashCycle(const FlashCycleDeps& deps) : d_(deps) {}

  bool BeginFlash(int& status) override;
  bool EndFlash() override;
  int NotifyServiceExport() override { return d_.utility.NotifyServiceExport(); }
  bool NotifyServiceUsersName(const std::string& file_name) override {
    return d_.utility.NotifyServiceUsersName(file_name);
  }
  // True when the module is powered on, after powering it on when it was
  // off; `status` receives the status read.
  bool EnsurePoweredOn(int& status);

 private:
  bool Open(int& status);
  // The close's steps; EndFlash puts the sounds back after them.
  bool Close();
  // Undoes what a failed opening did to a module that was found off.
  void LeaveAsFound();

  FlashCycleDeps d_;
  bool found_off_ = false;
  bool powered_by_us_ = false;
  bool drive_named_ = false;
};

}  // namespace kvx
