#include "emulator/machine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "core/text.h"
#include "emulator/smbios_table.h"
#include "platform/posix/named_objects_posix.h"
#include "platform/posix/registry_posix.h"

namespace kvx::emu {

namespace {

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

Fields Ok() { return {"ok"}; }

}  // namespace

ServiceRecord DefaultDriverService() {
  ServiceRecord driver;
  driver.name = kDriverService;
  driver.display_name = kDriverService;
  driver.type = kServiceKernelDriver;
  driver.start_type = kServiceSystemStart;
  driver.error_control = kServiceErrorNormal;
  driver.image_path = "\\SystemRoot\\System32\\drivers\\kvxio.sys";
  return driver;
}

ServiceRecord DefaultCompanionService() {
  ServiceRecord companion;
  companion.name = kCompanionService;
  companion.display_name = "KVX flash module service";
  companion.type = kServiceWin32OwnProcess;
  companion.start_type = kServiceAutoStart;
  companion.error_control = kServiceErrorNormal;
  companion.image_path = "C:\\Program Files\\KVX\\KvxMDES.exe";
  return companion;
}

Machine::Machine(std::string folder, std::string volume, bool powered, WineStep wine)
    : folder_(std::move(folder)), volume_(std::move(volume)), powered_(powered), ports_(0x10000, 0),
      wine_(std::move(wine)) {
  ServiceRecord driver = DefaultDriverService();
  driver.state = kServiceRunning;
  services_[ToLowerAscii(driver.name)] = driver;
  ServiceRecord companion = DefaultCompanionService();
  companion.state = kServiceRunning;
  services_[ToLowerAscii(companion.name)] = companion;
  objects_ = std::make_unique<PosixNamedObjects>(folder_ + "/objects");
}

Machine::~Machine() {
  if (physmem_) munmap(physmem_, kPhysicalMemorySize);
  if (physmem_fd_ >= 0) close(physmem_fd_);
}

bool Machine::Start(std::string& error) {
  const std::string emu = folder_ + "/" + kEmuFolder;
  // Under Wine the named objects and the registry are Wine's own.
  if (!wine_) {
    made_objects_ = mkdir((folder_ + "/objects").c_str(), 01777) == 0;
    chmod((folder_ + "/objects").c_str(), 01777);
  }
  mkdir((emu + "/devices").c_str(), 0755);
  // Physical memory: a shared file every mapping request views.
  const std::string physmem = emu + "/physmem";
  physmem_fd_ = open(physmem.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (physmem_fd_ < 0 || ftruncate(physmem_fd_, kPhysicalMemorySize) != 0) {
    error = "cannot create the physical memory " + physmem;
    return false;
  }
  void* p = mmap(nullptr, kPhysicalMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED, physmem_fd_, 0);
  if (p == MAP_FAILED) {
    error = "cannot map the physical memory";
    return false;
  }
  physmem_ = static_cast<uint8_t*>(p);
  if (!WriteFirmwareTables(error)) return false;
  // The current user's registry, with the sound events a desktop has.
  struct stat st;
  const std::string registry = folder_ + "/" + PosixRegistry::kFile;
  if (!wine_ && stat(registry.c_str(), &st) != 0) {
    PosixRegistry reg(folder_);
    reg.WriteDefaultValue("AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect\\.Current",
                          "C:\\Windows\\media\\Windows Hardware Insert.wav");
    reg.WriteDefaultValue("AppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect\\.Current",
                          "C:\\Windows\\media\\Windows Hardware Remove.wav");
    created_.push_back(registry);
    created_.push_back(folder_ + "/registry/.lock");
    created_.push_back(folder_ + "/registry");
  }
  if (!wine_) OpenMappings();
  return true;
}

bool Machine::WriteFirmwareTables(std::string& error) {
  const std::vector<uint8_t> table = BuildSmbiosTable();
  const std::vector<uint8_t> entry =
      BuildEntryPoint(static_cast<uint32_t>(table.size()), kTableAddress);
  std::copy(entry.begin(), entry.end(), physmem_ + kEntryPointAddress);
  std::copy(table.begin(), table.end(), physmem_ + kTableAddress);
  std::string path = folder_;
  for (const char* part : {"/firmware", "/dmi", "/tables"}) {
    path += part;
    if (mkdir(path.c_str(), 0755) == 0) created_.insert(created_.begin(), path);
  }
  if (!WriteFile(path + "/DMI", table) || !WriteFile(path + "/smbios_entry_point", entry)) {
    error = "cannot write the firmware tables in " + path;
    return false;
  }
  created_.insert(created_.begin(), {path + "/DMI", path + "/smbios_entry_point"});
  return true;
}

void Machine::Stop() {
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& [name, target] : dos_devices_) unlink(DosLink(name).c_str());
  dos_devices_.clear();
  if (mounted_) unlink(DeviceLink(kVolumeDevice).c_str());
  CloseMappings();
  // The service's objects go with it, unless another process still holds
  // one of them.
  const std::string objects = folder_ + "/objects/";
  const std::initializer_list<const char*> names = {"KVXFileMappingMount.mapping", "KVXFileMappingUser.mapping",
                                                    "KVXShareMemUserMutex.mutex", "KVXShareMemUserMutex.owner"};
  for (const char* name : wine_ ? std::initializer_list<const char*>{} : names) {
    const int fd = open((objects + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) unlink((objects + name).c_str());
    close(fd);
  }
  if (made_objects_) {
    unlink((objects + ".objects.lock").c_str());
    rmdir(objects.c_str());
  }
  for (const std::string& path : created_) {
    if (unlink(path.c_str()) != 0) rmdir(path.c_str());
  }
  created_.clear();
}

void Machine::Log(const std::string& entry) { log_.push_back(entry); }

ServiceRecord* Machine::Find(const std::string& name) {
  const auto it = services_.find(ToLowerAscii(name));
  return it == services_.end() ? nullptr : &it->second;
}

Fields Machine::Handle(const Fields& r) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::string& op = r[0];
  if (op == "ping") return Ok();
  // Under Wine the service manager is Wine's: what reaches this machine of
  // it are the companion service's own requests.
  if (wine_ && op.compare(0, 4, "svc.") == 0) return WineService(r);
  if (wine_ && op.compare(0, 4, "scm.") == 0) return ErrorReply(kErrorInvalidParameter);
  if (op.compare(0, 4, "scm.") == 0 || op.compare(0, 4, "svc.") == 0) return Scm(r);
  if (op.compare(0, 4, "dev.") == 0) return Driver(r);
  return ErrorReply(kErrorInvalidParameter);
}

Fields Machine::Scm(const Fields& r) {
  const std::string& op = r[0];
  const auto arg = [&r](size_t i) { return i < r.size() ? r[i] : std::string(); };
  if (op == "scm.open") {
    if (!knobs_.scm_on || knobs_.scm_opens_left == 0) return ErrorReply(kErrorRpcUnavailable);
    if (knobs_.scm_opens_left > 0) --knobs_.scm_opens_left;
    ++scm_opens_;
    return Ok();
  }
  if (op == "svc.create") {
    const uint32_t scm_access = static_cast<uint32_t>(FieldNumber(arg(2)));
    if (!(scm_access & kScManagerCreateService)) return ErrorReply(kErrorAccess);
    if (ServiceRecord* old = Find(arg(1))) {
      return ErrorReply(old->marked_for_delete ? kErrorServiceMarkedForDelete : kErrorServiceExists);
    }
    ServiceRecord s;
    s.name = arg(1);
    s.display_name = arg(3);
    s.type = static_cast<uint32_t>(FieldNumber(arg(4)));
    s.start_type = static_cast<uint32_t>(FieldNumber(arg(5)));
    s.error_control = static_cast<uint32_t>(FieldNumber(arg(6)));
    s.image_path = arg(7);
    services_[ToLowerAscii(s.name)] = s;
    Log("scm: created " + s.name + " (" + s.image_path + ")");
    return Ok();
  }
  ServiceRecord* s = Find(arg(1));
  if (!s) return ErrorReply(kErrorServiceDoesNotExist);
  const uint32_t access = static_cast<uint32_t>(FieldNumber(arg(2)));
  const bool companion = EqualsIgnoringCase(s->name, kCompanionService);
  if (op == "svc.open") return Ok();
  if (op == "svc.query") {
    if (!(access & kServiceQueryStatus)) return ErrorReply(kErrorAccess);
    return {"ok", NumberField(s->state)};
  }
  if (op == "svc.start") {
    if (!(access & kServiceStart)) return ErrorReply(kErrorAccess);
    if (s->state != kServiceStopped) return ErrorReply(kErrorServiceAlreadyRunning);
    if (!companion && !knobs_.driver_file_present) {
      Log("scm: start " + s->name + " failed: driver file missing");
      return ErrorReply(kErrorFileNotFound);
    }
    s->state = kServiceRunning;
    Log("scm: started " + s->name);
    if (companion) SetCompanionState(kServiceRunning);
    return Ok();
  }
  if (op == "svc.delete") {
    if (!(access & kServiceDelete)) return ErrorReply(kErrorAccess);
    if (s->marked_for_delete) return ErrorReply(kErrorServiceMarkedForDelete);
    Log("scm: deleted " + s->name);
    if (s->state != kServiceStopped) {
      s->marked_for_delete = true;  // removed once it stops
      return Ok();
    }
    services_.erase(ToLowerAscii(s->name));
    return Ok();
  }
  if (op == "svc.control") {
    const uint32_t code = static_cast<uint32_t>(FieldNumber(arg(3)));
    const uint32_t needed = code == kServiceControlStop ? kServiceStop : code >= 128 ? kServiceUserDefinedControl : 0;
    if (needed == 0 || !(access & needed)) return ErrorReply(kErrorAccess);
    return Control(*s, code);
  }
  return ErrorReply(kErrorInvalidParameter);
}

Fields Machine::Control(ServiceRecord& s, uint32_t code) {
  const bool stop = code == kServiceControlStop;
  if (s.state != kServiceRunning && !(stop && s.state == kServicePaused)) {
    return ErrorReply(kErrorServiceNotActive);
  }
  if (stop) {
    s.state = kServiceStopped;
    Log("scm: stopped " + s.name);
    if (EqualsIgnoringCase(s.name, kCompanionService)) SetCompanionState(kServiceStopped);
    if (s.marked_for_delete) services_.erase(ToLowerAscii(s.name));
    return Ok();
  }
  if (!EqualsIgnoringCase(s.name, kCompanionService)) return ErrorReply(kErrorInvalidServiceControl);
  return CompanionControl(code);
}

}  // namespace kvx::emu
