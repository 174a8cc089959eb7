#pragma once
#include "platform/service_manager.h"

namespace kvx {

// The local machine's service control manager through the W functions of
// advapi32. Every handle is closed when its object goes. Default-
// constructible.
class Win32ServiceManager : public ServiceManager {
 public:
  std::unique_ptr<ServiceControlManager> Open(uint32_t access) override;
};

}  // namespace kvx
