#include "platform/posix/service_manager_posix.h"

#include "platform/posix/emu_wire.h"

namespace kvx {

namespace {

class PosixService : public Service {
 public:
  PosixService(std::shared_ptr<EmuConnection> c, std::string name, uint32_t access)
      : c_(std::move(c)), name_(std::move(name)), access_(access) {}

  bool QueryStatus(uint32_t& state) override {
    const Fields reply = Ask("svc.query");
    if (!ReplyOk(reply, error_)) return false;
    state = reply.size() > 1 ? static_cast<uint32_t>(FieldNumber(reply[1])) : 0;
    return true;
  }
  bool Control(uint32_t code) override { return ReplyOk(Ask("svc.control", NumberField(code)), error_); }
  bool Start() override { return ReplyOk(Ask("svc.start"), error_); }
  bool Delete() override { return ReplyOk(Ask("svc.delete"), error_); }
  int LastError() override { return error_; }

 private:
  Fields Ask(const char* op, const std::string& arg = std::string()) {
    return c_->Call({op, name_, NumberField(access_), arg});
  }
  std::shared_ptr<EmuConnection> c_;
  std::string name_;
  uint32_t access_;
  int error_ = 0;
};

class PosixScm : public ServiceControlManager {
 public:
  PosixScm(std::shared_ptr<EmuConnection> c, uint32_t access) : c_(std::move(c)), access_(access) {}

  std::unique_ptr<Service> OpenService(const std::string& name, uint32_t access) override {
    if (!ReplyOk(c_->Call({"svc.open", name, NumberField(access)}), error_)) return nullptr;
    return std::make_unique<PosixService>(c_, name, access);
  }
  std::unique_ptr<Service> CreateService(const ServiceConfig& config, uint32_t access) override {
    const Fields request = {"svc.create",
                            config.name,
                            NumberField(access_),
                            config.display_name,
                            NumberField(config.type),
                            NumberField(config.start_type),
                            NumberField(config.error_control),
                            config.image_path};
    if (!ReplyOk(c_->Call(request), error_)) return nullptr;
    return std::make_unique<PosixService>(c_, config.name, access);
  }
  int LastError() override { return error_; }

 private:
  std::shared_ptr<EmuConnection> c_;
  uint32_t access_;
  int error_ = 0;
};

}  // namespace

std::unique_ptr<ServiceControlManager> PosixServiceManager::Open(uint32_t access) {
  std::shared_ptr<EmuConnection> c = EmuConnection::Connect(machine_);
  int error = 0;
  if (!c || !ReplyOk(c->Call({"scm.open", NumberField(access)}), error)) return nullptr;
  return std::make_unique<PosixScm>(std::move(c), access);
}

}  // namespace kvx
