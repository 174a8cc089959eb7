#pragma once
// CUtility: the exchanges with the companion service "KvxMDES": the plain
// control senders, the mount that reads the mounted device's name from the
// service's mount mapping and names it drive "~", and the list of accounts
// written into the service's user mapping under the user-list mutex.
#include <string>

#include "core/tool_context.h"
#include "flash/module_power.h"
#include "platform/ansi_text.h"
#include "platform/sleeper.h"
#include "service/service_notify.h"

namespace kvx {

inline constexpr const char* kCompanionService = "KvxMDES";
inline constexpr const char* kMountMappingName = "Global\\KVXFileMappingMount";
inline constexpr const char* kUserMappingName = "Global\\KVXFileMappingUser";
inline constexpr const char* kUserListMutexName = "KVXShareMemUserMutex";
inline constexpr size_t kMountViewSize = 64;
inline constexpr size_t kUserViewSize = 4096;

struct UtilityDeps {
  ToolContext& tool;
  CUserInfoExport& notify;
  FlashModule& module;
  AnsiText& ansi;
  Sleeper& sleeper;
};

class CUtility {
 public:
  explicit CUtility(const UtilityDeps& deps) : d_(deps) {}

  // The result of the export sender: 1, or 0 when the manager could not be
  // opened.
  int NotifyServiceExport();
  int NotifyServiceUnLockFlash();
  int NotifyServiceUnMountFlash();
  // 0 mounted and named "~" (after a 1000 ms wait); -1 no mapping, no view
  // or an empty device name; -2 the drive "~" could not be reached.
  int NotifyServiceMountFlash();
  // Writes the account count and the names of the accounts that hold
  // `file_name` into the user mapping. False when the mutex could not be
  // had within 3000 ms or the mapping could not be opened and viewed.
  bool NotifyServiceUsersName(const std::string& file_name);

 private:
  UtilityDeps d_;
};

}  // namespace kvx
