#include "platform/win32/service_manager_win32.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace kvx {

namespace {

class Win32Service : public Service {
 public:
  explicit Win32Service(SC_HANDLE handle) : handle_(handle) {}
  ~Win32Service() override { CloseServiceHandle(handle_); }
  Win32Service(const Win32Service&) = delete;
  Win32Service& operator=(const Win32Service&) = delete;

  bool QueryStatus(uint32_t& state) override {
    SERVICE_STATUS status = {};
    if (!Check(QueryServiceStatus(handle_, &status))) return false;
    state = status.dwCurrentState;
    return true;
  }
  bool Control(uint32_t code) override {
    SERVICE_STATUS status = {};
    return Check(ControlService(handle_, code, &status));
  }
  bool Start() override { return Check(StartServiceW(handle_, 0, nullptr)); }
  bool Delete() override { return Check(DeleteService(handle_)); }
  int LastError() override { return error_; }

 private:
  bool Check(BOOL ok) {
    if (!ok) error_ = static_cast<int>(GetLastError());
    return ok != FALSE;
  }
  SC_HANDLE handle_;
  int error_ = 0;
};

class Win32ControlManager : public ServiceControlManager {
 public:
  explicit Win32ControlManager(SC_HANDLE handle) : handle_(handle) {}
  ~Win32ControlManager() override { CloseServiceHandle(handle_); }
  Win32ControlManager(const Win32ControlManager&) = delete;
  Win32ControlManager& operator=(const Win32ControlManager&) = delete;

  std::unique_ptr<Service> OpenService(const std::string& name, uint32_t access) override {
    return Wrap(OpenServiceW(handle_, Wide(name).c_str(), access));
  }

  std::unique_ptr<Service> CreateService(const ServiceConfig& config, uint32_t access) override {
    return Wrap(CreateServiceW(handle_, Wide(config.name).c_str(), Wide(config.display_name).c_str(),
                               access, config.type, config.start_type, config.error_control,
                               Wide(config.image_path).c_str(), nullptr, nullptr, nullptr, nullptr,
                               nullptr));
  }
  int LastError() override { return error_; }

 private:
  std::unique_ptr<Service> Wrap(SC_HANDLE service) {
    if (service == nullptr) {
      error_ = static_cast<int>(GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32Service>(service);
  }
  SC_HANDLE handle_;
  int error_ = 0;
};

}  // namespace

std::unique_ptr<ServiceControlManager> Win32ServiceManager::Open(uint32_t access) {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, access);
  if (scm == nullptr) return nullptr;
  return std::make_unique<Win32ControlManager>(scm);
}

}  // namespace kvx
