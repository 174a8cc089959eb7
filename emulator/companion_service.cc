// The companion service "KvxMDES": it owns the flash volume, mounts it as a
// device of the machine, unlocks and unmounts it, and reads the list of
// accounts the tool hands it. Its control handler answers before the
// control call returns, so the mount mapping holds the device name by then.
#include <unistd.h>

#include <cstring>
#include <thread>

#include "core/utf.h"
#include "emulator/machine.h"

namespace kvx::emu {

namespace {

constexpr const char* kMountMapping = "Global\\KVXFileMappingMount";
constexpr const char* kUserMapping = "Global\\KVXFileMappingUser";
constexpr const char* kUserMutex = "KVXShareMemUserMutex";
constexpr size_t kMountSize = 64;
constexpr size_t kUserSize = 4096;
constexpr uint32_t kExport = 133, kMount = 134, kUnMount = 135, kUnLock = 136;

Fields Ok() { return {"ok"}; }

}  // namespace

void Machine::OpenMappings() {
  // Under Wine the companion service holds the mappings itself.
  if (wine_ || !knobs_.mappings_present || mount_mapping_) return;
  mount_mapping_ = objects_->CreateFileMapping(kMountMapping, kMountSize, nullptr);
  user_mapping_ = objects_->CreateFileMapping(kUserMapping, kUserSize, nullptr);
  if (mount_mapping_) mount_view_ = mount_mapping_->MapView(kMountSize);
  if (user_mapping_) user_view_ = user_mapping_->MapView(kUserSize);
  WriteMountName(mounted_ ? mount_name_ : std::string());
}

void Machine::SetCompanionState(uint32_t state) {
  ServiceRecord* s = Find(kCompanionService);
  if (s) s->state = state;
  // The service's shared memory lives while the service does.
  if (state == kServiceRunning || state == kServicePaused) {
    OpenMappings();
  } else {
    CloseMappings();
  }
}

void Machine::CloseMappings() {
  mount_view_.reset();
  user_view_.reset();
  mount_mapping_.reset();
  user_mapping_.reset();
}

void Machine::WriteMountName(const std::string& name) {
  if (!mount_view_) return;
  std::memset(mount_view_->data(), 0, kMountSize);
  const std::string bytes = EncodeUtf16Bytes(Utf8ToUtf16(name));
  std::memcpy(mount_view_->data(), bytes.data(), std::min(bytes.size(), kMountSize - 2));
}

Fields Machine::CompanionControl(uint32_t code) {
  const Fields action = ServiceAction(code);
  if (action[0] != "ok") return action;
  if (action[1] == "mount") {
    WriteMountName(action[2]);
  } else if (action[1] == "unlock") {
    HoldUserMutex();
  } else if (action[1] == "export") {
    Export();
  }
  return {"ok"};
}

Fields Machine::ServiceAction(uint32_t code) {
  if (knobs_.refused_codes.count(code)) {
    Log("service: refused code " + std::to_string(code));
    return ErrorReply(kErrorInvalidServiceControl);  // the handler does not take it
  }
  switch (code) {
    case kMount: {
      std::string name;
      if (!Mount(name)) return {"ok", "none"};
      return {"ok", "mount", name};
    }
    case kUnLock:
      Log(mounted_ ? "service: unlock" : "service: unlock (nothing mounted)");
      if (mounted_) locked_ = false;
      return {"ok", "unlock", NumberField(knobs_.user_mutex_hold_ms)};
    case kUnMount:
      Unmount("service: unmount");
      return {"ok", "unmount"};
    case kExport:
      if (wine_ ? !knobs_.mappings_present : !user_view_) {
        LogExport("nomapping", "", "");
        return {"ok", "none"};
      }
      return {"ok", "export"};
    default:
      Log("service: unknown code " + std::to_string(code));
      return ErrorReply(kErrorInvalidServiceControl);
  }
}

bool Machine::Mount(std::string& published) {
  published.clear();
  if (wine_ ? !knobs_.mappings_present : !mount_view_) {
    Log("service: mount, but the mount mapping is missing");
    return false;
  }
  if (!powered_) {
    Log("service: mount failed: the module is off");
    return true;
  }
  if (knobs_.mount_leaves_empty_name) {
    Log("service: mount left an empty device name (knob)");
    return true;
  }
  if (knobs_.mounts_not_answering > 0) {
    --knobs_.mounts_not_answering;
    unlink(DeviceLink(kVolumeDevice).c_str());
    mounted_ = false;
    published = kVolumeDevice;
    Log(std::string("service: mount -> ") + kVolumeDevice + " (not answering, knob)");
    return true;
  }
  unlink(DeviceLink(kVolumeDevice).c_str());
  if (symlink(volume_.c_str(), DeviceLink(kVolumeDevice).c_str()) != 0) {
    Log("service: mount failed: cannot create the device");
    return true;
  }
  mounted_ = true;
  locked_ = true;
  mount_name_ = kVolumeDevice;
  published = mount_name_;
  Log(std::string("service: mount -> ") + kVolumeDevice);
  return true;
}

void Machine::Unmount(const char* why) {
  if (mounted_) unlink(DeviceLink(kVolumeDevice).c_str());
  Log(std::string(why) + (mounted_ ? "" : " (nothing mounted)"));
  mounted_ = false;
  locked_ = true;
  mount_name_.clear();
  WriteMountName("");
}

void Machine::DeviceGone() {
  if (mounted_) Unmount("service: volume gone with the power");
}

void Machine::HoldUserMutex() {
  if (knobs_.user_mutex_hold_ms <= 0) return;
  bool existed = false;
  std::shared_ptr<NamedMutex> m = objects_->CreateMutex(kUserMutex, &existed);
  if (!m || m->Wait(0) != NamedMutex::WaitResult::kOwned) return;
  const int ms = knobs_.user_mutex_hold_ms;
  Log("service: holds the user list for " + std::to_string(ms) + " ms");
  std::shared_ptr<std::atomic<bool>> holding = holding_user_list_;
  *holding = true;
  std::thread([m, ms, holding] {
    usleep(static_cast<useconds_t>(ms) * 1000);
    *holding = false;
    m->Release();
  }).detach();
}

void Machine::Export() {
  // While the service holds the list itself it reads it under that hold.
  bool existed = false;
  std::unique_ptr<NamedMutex> m;
  if (!*holding_user_list_) {
    m = objects_->CreateMutex(kUserMutex, &existed);
    if (!m || m->Wait(5000) != NamedMutex::WaitResult::kOwned) {
      LogExport("locked", "", "");
      return;
    }
  }
  const unsigned char* v = user_view_->data();
  std::string count(reinterpret_cast<const char*>(v), strnlen(reinterpret_cast<const char*>(v), 10));
  std::string names;
  const long n = std::strtol(count.c_str(), nullptr, 10);
  for (long k = 0; k < n && k < 40; ++k) {
    const std::string name = Utf16FieldText(std::string_view(reinterpret_cast<const char*>(v) + 20 + 100 * k, 100));
    if (name.empty()) continue;
    names += (names.empty() ? "" : ", ") + name;
  }
  if (m) m->Release();
  LogExport("ok", count, names);
}

void Machine::LogExport(const std::string& status, const std::string& count, const std::string& names) {
  if (status == "nomapping") {
    Log("service: export, but the user mapping is missing");
  } else if (status == "locked") {
    Log("service: export: the user list stayed locked");
  } else if (count.empty()) {
    Log("service: export (no user list handed over yet)");
  } else {
    Log("service: export: " + count + " accounts [" + names + "]");
  }
}

// The companion service inside Wine holds the mappings and the mutex
// itself; it asks what each control code does and carries it out:
// {"ok","mount",NAME}, {"ok","unmount"}, {"ok","unlock",MS}, {"ok","export"}
// (then hands the list back with "svc.exported"), {"ok","none"} for nothing
// to do, or an error for the handler to return.
Fields Machine::WineService(const Fields& r) {
  const std::string& op = r[0];
  const auto arg = [&r](size_t i) { return i < r.size() ? r[i] : std::string(); };
  ServiceRecord* s = Find(kCompanionService);
  if (op == "svc.state") {
    const std::string& state = arg(2);
    const uint32_t now = state == "running" ? kServiceRunning : state == "paused" ? kServicePaused : kServiceStopped;
    if (!s) {
      services_["kvxmdes"] = DefaultCompanionService();
      s = Find(kCompanionService);
    }
    if (!knob_in_progress_ && s->state != now && (now == kServiceRunning || now == kServiceStopped) &&
        s->state != kServicePaused) {
      Log(std::string(now == kServiceRunning ? "scm: started " : "scm: stopped ") + s->name);
    }
    s->state = now;
    return Ok();
  }
  if (op == "svc.exported") {
    std::string names;
    for (size_t i = 4; i < r.size(); ++i) names += (names.empty() ? "" : ", ") + r[i];
    LogExport(arg(2), arg(3), names);
    return Ok();
  }
  if (op != "svc.control") return ErrorReply(kErrorInvalidParameter);
  const Fields action = ServiceAction(static_cast<uint32_t>(FieldNumber(arg(2))));
  // The service holds the user list itself, from its reply on.
  if (action.size() == 3 && action[1] == "unlock" && FieldNumber(action[2]) > 0) {
    Log("service: holds the user list for " + action[2] + " ms");
  }
  return action;
}

}  // namespace kvx::emu
