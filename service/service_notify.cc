#include "service/service_notify.h"

namespace kvx {

struct CUserInfoExport::Messages {
  const char* begin;
  const char* cannot_open;
  const char* query_failed;  // null: none
  const char* control_sent;
  const char* closing;
  bool mount;  // the mount sender's extra lines
};

int CUserInfoExport::Notify(const std::string& service, uint32_t code, const Messages& m) {
  debug_.Write(m.begin);
  std::unique_ptr<ServiceControlManager> scm = services_.Open(kScManagerConnect);
  if (!scm) return 0;
  if (m.mount) debug_.Write("CUserInfoExport::NotifyMountFlash  success OpenSCManager");
  std::unique_ptr<Service> s =
      scm->OpenService(service, kServiceQueryStatus | kServiceUserDefinedControl);
  if (!s) {
    debug_.Write(m.cannot_open);
    console_.Write("cannot open service.\n");
  } else {
    if (m.mount) debug_.Write("CUserInfoExport::NotifyMountFlash  success OpenService");
    uint32_t state = 0;
    if (!s->QueryStatus(state)) {
      if (m.query_failed) debug_.Write(m.query_failed);
    } else if (state == kServiceRunning) {
      if (s->Control(code)) debug_.Write(m.control_sent);
      if (m.mount) debug_.Write("CUserInfoExport::NotifyMountFlash  success ControlService");
    }
    s.reset();
  }
  scm.reset();
  debug_.Write(m.closing);
  return 1;
}

int CUserInfoExport::NotifyExport(const std::string& service) {
  return Notify(service, kControlExport,
                {"Begin notify service to export", "NotifyExport :: cannot open service.",
                 "NotifyExport :: query service failed.", "NotifyExport :: sucess ControlService ",
                 "Notify service to export successfully", false});
}

int CUserInfoExport::NotifyMountFlash(const std::string& service) {
  return Notify(service, kControlMountFlash,
                {"Begin notify service of mounting flash", "NotifyMountFlash :: cannot open service.",
                 nullptr, "NotifyMountFlash:: sucess ControlService ",
                 "Notify service of mounting flash Successful", true});
}

int CUserInfoExport::NotifyUnLock(const std::string& service) {
  return Notify(service, kControlUnLock,
                {"Begin notify service to UnLock", "NotifyUnLock :: cannot open service.",
                 "NotifyUnLock :: query service failed.", "NotifyUnLock :: sucess ControlService ",
                 "Notify service to UnLock successfully", false});
}

int CUserInfoExport::NotifyUnMount(const std::string& service) {
  return Notify(service, kControlUnMount,
                {"Begin notify service to UnMount", "NotifyUnMount :: cannot open service.",
                 "NotifyUnMount :: query service failed.", "NotifyUnMount :: sucess ControlService ",
                 "Notify service to UnMount successfully", false});
}

}  // namespace kvx
