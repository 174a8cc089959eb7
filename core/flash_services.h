#pragma once
#include <string>

namespace kvx {

// What the command processing and the copies need of the flash module and
// its companion service: the flash cycle that powers, mounts and unlocks
// the module (publishing the flash root "~:") and closes it again, and the
// notifications that hand the service its work.
class FlashServices {
 public:
  virtual ~FlashServices() = default;
  // Opens a flash cycle; `status` receives each flash status read. True
  // when the volume is mounted, named "~" and unlocked, with the flash root
  // published.
  virtual bool BeginFlash(int& status) = 0;
  // Closes the cycle: unmount, drive removed, power off.
  virtual bool EndFlash() = 0;
  // Asks the companion service to export the account data.
  virtual int NotifyServiceExport() = 0;
  // Hands the service the accounts that hold `file_name`.
  virtual bool NotifyServiceUsersName(const std::string& file_name) = 0;
};

}  // namespace kvx
