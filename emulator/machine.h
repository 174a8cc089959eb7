#pragma once
// The emulated machine's state and its answers to the platform layer's
// requests: the service control manager with the kernel driver's service
// and the companion service, the kernel I/O driver's device, the firmware
// with its calling interface and the flash module, and the fault knobs.
// One lock serialises every request, as the real machine's drivers and
// services answer one control call at a time.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/named_objects.h"
#include "platform/service_manager.h"
#include "platform/posix/emu_wire.h"

namespace kvx::emu {

inline constexpr const char* kDriverService = "KVXIO";
inline constexpr const char* kCompanionService = "KvxMDES";
inline constexpr const char* kVolumeDevice = "\\Device\\KvxFlashVolume1";
inline constexpr uint32_t kPhysicalMemorySize = 4u << 20;

struct ServiceRecord {
  std::string name;  // as registered
  std::string display_name;
  uint32_t type = 0;
  uint32_t start_type = 0;
  uint32_t error_control = 0;
  std::string image_path;
  uint32_t state = kServiceStopped;
  bool marked_for_delete = false;
};

// The two services a fresh machine has registered.
ServiceRecord DefaultDriverService();
ServiceRecord DefaultCompanionService();

// What the tests and the demo can make go wrong (and a few settings).
struct Knobs {
  bool scm_on = true;
  int scm_opens_left = -1;           // opens before the manager goes off; -1 no limit
  bool driver_file_present = true;   // the kernel driver's image can be loaded
  int64_t status_result = 0;         // u32Res[0] of the status answer
  int status_byte = -1;              // -1: from the module's power
  bool calling_interface_fails = false;
  uint32_t reply_length = 36;
  bool power_on_fails = false;
  bool power_off_fails = false;
  std::set<uint32_t> refused_codes;  // the companion service's handler refuses these
  bool mount_leaves_empty_name = false;
  int mounts_not_answering = 0;      // the next N mounts name a device that does not answer
  int user_mutex_hold_ms = 0;        // held by the service from each unlock for this long
  bool mappings_present = true;
};

// The Wine side of a machine that runs under Wine: runs one step of the
// machine's own Windows program (kvxwine.exe WORDS...) in the machine's
// prefix and gives its standard output; false with `error` set when the step
// failed. Never called with the machine's lock held, since a step may make
// the pieces inside Wine call back.
using WineStep = std::function<bool(const std::vector<std::string>& words, std::string& output, std::string& error)>;

class Machine {
 public:
  // `folder` is the machine folder; `volume` the flash volume's folder.
  // With `wine`, the machine folder is a Wine prefix whose real service
  // manager, driver host and named objects stand for the emulated ones:
  // the companion service and the driver are the Wine side's, and this
  // machine answers what they hand on.
  Machine(std::string folder, std::string volume, bool powered, WineStep wine = nullptr);
  ~Machine();

  // Brings up the physical memory, the firmware tables and the services.
  bool Start(std::string& error);
  // One request of the wire; the reply.
  Fields Handle(const Fields& request);
  // The whole state as JSON.
  std::string StateJson();
  // Sets one knob (or setting) from its text; false with `error` set when
  // the name or value is not known.
  bool SetKnob(const std::string& name, const std::string& value, std::string& error);
  // Removes what Start made in the machine folder.
  void Stop();

 private:
  Fields Scm(const Fields& r);
  Fields Driver(const Fields& r);
  Fields Ioctl(uint32_t code, const std::string& in, uint32_t out_size);
  Fields CallingInterface(const std::string& in);
  Fields DefineDosDevice(const std::string& in, bool remove);
  Fields Control(ServiceRecord& s, uint32_t code);
  Fields CompanionControl(uint32_t code);
  // What the companion service does for `code`, decided and logged once for
  // both machines: {"ok","mount",NAME}, {"ok","unlock",HOLD_MS},
  // {"ok","unmount"}, {"ok","export"}, {"ok","none"}, or the error its
  // handler answers. The POSIX machine carries it out itself; under Wine it
  // is the reply to the service.
  Fields ServiceAction(uint32_t code);
  // The device name a mount publishes in the mount mapping (empty for
  // none); false when there is no mapping to publish it in.
  bool Mount(std::string& published);
  void Unmount(const char* why);
  // Reads the user list from the user mapping, which exists, and logs it.
  void Export();
  // The log line of an export: `status` "ok" with the list's count text
  // and names, "locked" or "nomapping".
  void LogExport(const std::string& status, const std::string& count, const std::string& names);
  // The requests of the companion service inside Wine.
  Fields WineService(const Fields& r);
  // Carries a knob out on the Wine side; false with `error` when it cannot
  // be carried out there. Called without the lock.
  bool WineKnob(const std::string& name, const std::string& value, std::string& error);
  std::map<std::string, std::string> WineRegistry();
  void HoldUserMutex();
  void SetCompanionState(uint32_t state);
  void OpenMappings();
  void CloseMappings();
  void WriteMountName(const std::string& name);
  void DeviceGone();
  void Log(const std::string& entry);
  ServiceRecord* Find(const std::string& name);
  uint32_t Port(uint16_t port, int width);
  void SetPort(uint16_t port, uint32_t value, int width);
  bool WriteFirmwareTables(std::string& error);
  std::string DosLink(const std::string& name) const;
  std::string DeviceLink(const std::string& target) const;

  std::mutex lock_;
  std::string folder_, volume_;
  bool powered_;
  Knobs knobs_;
  std::map<std::string, ServiceRecord> services_;  // by lower-case name
  std::vector<uint8_t> ports_;
  int physmem_fd_ = -1;
  uint8_t* physmem_ = nullptr;
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> sections_;  // base, length
  uint32_t next_section_ = 0x100;
  std::map<std::string, std::string> dos_devices_;  // name to target
  bool mounted_ = false;
  bool locked_ = true;
  std::string mount_name_;
  std::vector<std::string> log_;
  uint64_t scm_opens_ = 0;
  std::unique_ptr<NamedObjects> objects_;
  // Set while the service itself holds the user list (HoldUserMutex).
  std::shared_ptr<std::atomic<bool>> holding_user_list_ = std::make_shared<std::atomic<bool>>(false);
  std::unique_ptr<NamedMapping> mount_mapping_, user_mapping_;
  std::unique_ptr<MappingView> mount_view_, user_view_;
  std::vector<std::string> created_;  // paths Start made, removed by Stop
  bool made_objects_ = false;
  WineStep wine_;
  std::atomic<bool> knob_in_progress_{false};
};

}  // namespace kvx::emu
