#pragma once
// CUserInfoExport: the senders of the control codes through which the tool
// asks the companion service to export, mount, unmount and unlock.
#include <string>

#include "platform/console.h"
#include "platform/debug_output.h"
#include "platform/service_manager.h"

namespace kvx {

inline constexpr uint32_t kControlExport = 133;
inline constexpr uint32_t kControlMountFlash = 134;
inline constexpr uint32_t kControlUnMount = 135;
inline constexpr uint32_t kControlUnLock = 136;

class CUserInfoExport {
 public:
  CUserInfoExport(ServiceManager& services, DebugOutput& debug, Console& console)
      : services_(services), debug_(debug), console_(console) {}

  // Each returns 1 when the service control manager could be opened,
  // whatever happened afterwards, and 0 when it could not. The code is sent
  // only to a running service.
  int NotifyExport(const std::string& service);
  int NotifyMountFlash(const std::string& service);
  int NotifyUnLock(const std::string& service);
  int NotifyUnMount(const std::string& service);

 private:
  struct Messages;
  int Notify(const std::string& service, uint32_t code, const Messages& m);

  ServiceManager& services_;
  DebugOutput& debug_;
  Console& console_;
};

}  // namespace kvx
