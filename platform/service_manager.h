#pragma once
// The service control manager of the local machine, shaped after the Win32
// calls (OpenSCManager, OpenService, QueryServiceStatus, ControlService,
// CreateService, StartService, DeleteService). States, codes and access
// rights are numbered as Windows numbers them.
#include <cstdint>
#include <memory>
#include <string>

namespace kvx {

inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kServiceContinuePending = 5;
inline constexpr uint32_t kServicePausePending = 6;
inline constexpr uint32_t kServicePaused = 7;

inline constexpr uint32_t kServiceControlStop = 1;

inline constexpr uint32_t kScManagerConnect = 0x0001;
inline constexpr uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr uint32_t kScManagerCreateService = 0x0002;
inline constexpr uint32_t kServiceQueryStatus = 0x0004;
inline constexpr uint32_t kServiceStart = 0x0010;
inline constexpr uint32_t kServiceStop = 0x0020;
inline constexpr uint32_t kServiceUserDefinedControl = 0x0100;
inline constexpr uint32_t kServiceDelete = 0x10000;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;

inline constexpr uint32_t kServiceKernelDriver = 0x1;
inline constexpr uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr uint32_t kServiceSystemStart = 0x1;
inline constexpr uint32_t kServiceAutoStart = 0x2;
inline constexpr uint32_t kServiceDemandStart = 0x3;
inline constexpr uint32_t kServiceErrorNormal = 0x1;

inline constexpr int kErrorServiceAlreadyRunning = 1056;
inline constexpr int kErrorServiceMarkedForDeletion = 1072;

// An open service.
class Service {
 public:
  virtual ~Service() = default;
  // The current state; false when the status cannot be queried.
  virtual bool QueryStatus(uint32_t& state) = 0;
  // Sends a control code; returns once the service's handler has answered.
  // False when the service refused it or could not be reached.
  virtual bool Control(uint32_t code) = 0;
  virtual bool Start() = 0;
  virtual bool Delete() = 0;
  // The system's error of the last failed call.
  virtual int LastError() = 0;
};

struct ServiceConfig {
  std::string name;
  std::string display_name;
  uint32_t type = kServiceKernelDriver;
  uint32_t start_type = kServiceDemandStart;
  uint32_t error_control = kServiceErrorNormal;
  std::string image_path;
};

// An open service control manager.
class ServiceControlManager {
 public:
  virtual ~ServiceControlManager() = default;
  // Null when the service is not installed or `access` is refused.
  virtual std::unique_ptr<Service> OpenService(const std::string& name, uint32_t access) = 0;
  // Null when the service cannot be created (it exists, it is still marked
  // for deletion while another handle holds it, or access is refused).
  virtual std::unique_ptr<Service> CreateService(const ServiceConfig& config, uint32_t access) = 0;
  // The system's error of the last failed call.
  virtual int LastError() = 0;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // The local machine's manager, default database; null when it cannot be
  // opened with `access`.
  virtual std::unique_ptr<ServiceControlManager> Open(uint32_t access) = 0;
};

}  // namespace kvx
