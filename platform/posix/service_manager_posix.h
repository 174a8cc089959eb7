#pragma once
#include <string>

#include "platform/service_manager.h"

namespace kvx {

// The service control manager of the emulated machine: each call is a
// request to the emulator of the machine folder, carrying the access the
// handle was opened with, which the manager checks as Windows does. With
// no emulator answering there is no manager to open.
class PosixServiceManager : public ServiceManager {
 public:
  explicit PosixServiceManager(std::string machine_folder) : machine_(std::move(machine_folder)) {}
  std::unique_ptr<ServiceControlManager> Open(uint32_t access) override;

 private:
  std::string machine_;
};

}  // namespace kvx
