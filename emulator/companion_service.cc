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

}  // namespace

void Machine::OpenMappings() {
  if (!knobs_.mappings_present || mount_mapping_) return;
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
  if (knobs_.refused_codes.count(code)) {
    Log("service: refused code " + std::to_string(code));
    return ErrorReply(kErrorInvalidServiceControl);  // the handler does not take it
  }
  switch (code) {
    case kMount: Mount(); break;
    case kUnLock:
      Log(mounted_ ? "service: unlock" : "service: unlock (nothing mounted)");
      if (mounted_) locked_ = false;
      HoldUserMutex();
      break;
    case kUnMount: Unmount("service: unmount"); break;
    case kExport: Export(); break;
    default:
      Log("service: unknown code " + std::to_string(code));
      return ErrorReply(kErrorInvalidServiceControl);
  }
  return {"ok"};
}

void Machine::Mount() {
  if (!mount_view_) {
    Log("service: mount, but the mount mapping is missing");
    return;
  }
  if (!powered_) {
    WriteMountName("");
    Log("service: mount failed: the module is off");
    return;
  }
  if (knobs_.mount_leaves_empty_name) {
    WriteMountName("");
    Log("service: mount left an empty device name (knob)");
    return;
  }
  if (knobs_.mounts_not_answering > 0) {
    --knobs_.mounts_not_answering;
    unlink(DeviceLink(kVolumeDevice).c_str());
    mounted_ = false;
    WriteMountName(kVolumeDevice);
    Log(std::string("service: mount -> ") + kVolumeDevice + " (not answering, knob)");
    return;
  }
  unlink(DeviceLink(kVolumeDevice).c_str());
  if (symlink(volume_.c_str(), DeviceLink(kVolumeDevice).c_str()) != 0) {
    WriteMountName("");
    Log("service: mount failed: cannot create the device");
    return;
  }
  mounted_ = true;
  locked_ = true;
  mount_name_ = kVolumeDevice;
  WriteMountName(mount_name_);
  Log(std::string("service: mount -> ") + kVolumeDevice);
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
  if (!user_view_) {
    Log("service: export, but the user mapping is missing");
    return;
  }
  // While the service holds the list itself it reads it under that hold.
  bool existed = false;
  std::unique_ptr<NamedMutex> m;
  if (!*holding_user_list_) {
    m = objects_->CreateMutex(kUserMutex, &existed);
    if (!m || m->Wait(5000) != NamedMutex::WaitResult::kOwned) {
      Log("service: export: the user list stayed locked");
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
  if (count.empty()) {
    Log("service: export (no user list handed over yet)");
  } else {
    Log("service: export: " + count + " accounts [" + names + "]");
  }
}

}  // namespace kvx::emu
