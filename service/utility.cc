#include "service/utility.h"

#include <cstring>

#include "core/diag.h"
#include "core/format.h"
#include "core/path_exists.h"
#include "core/utf.h"
#include "service/user_account_export.h"

namespace kvx {

namespace {

constexpr size_t kCountField = 10;
constexpr size_t kFirstSlot = 20;
constexpr size_t kSlotSize = 100;
constexpr size_t kNameLimit = 49;  // UTF-16 units, the terminator follows
constexpr size_t kSlots = (kUserViewSize - kFirstSlot) / kSlotSize;  // 40
constexpr uint32_t kUserListWait = 3000;

}  // namespace

int CUtility::NotifyServiceExport() { return d_.notify.NotifyExport(Format("%s", kCompanionService)); }

int CUtility::NotifyServiceUnLockFlash() { return d_.notify.NotifyUnLock(Format("%s", kCompanionService)); }

int CUtility::NotifyServiceUnMountFlash() { return d_.notify.NotifyUnMount(Format("%s", kCompanionService)); }

int CUtility::NotifyServiceMountFlash() {
  DebugOutput& debug = d_.tool.debug;
  d_.notify.NotifyMountFlash(kCompanionService);
  debug.Write("Begin NotifyServiceMountFlash");
  std::unique_ptr<NamedMapping> mapping = d_.tool.objects.OpenFileMapping(kMountMappingName);
  if (!mapping) {
    debug.Write("hMapFile is NULL");
    return -1;
  }
  std::unique_ptr<MappingView> view = mapping->MapView(kMountViewSize);
  if (!view) {
    debug.Write("The Map handle of Buf is NULL");
    return -1;
  }
  const std::string name =
      Utf16FieldText(std::string_view(reinterpret_cast<const char*>(view->data()), kMountViewSize));
  Diag(debug, "The device Name is %s", name.c_str());
  if (name.empty()) {
    debug.Write("The device Name is NULL , NotifyServiceMountFlash return false");
    return -1;
  }
  if (!d_.module.MapFlashDrive(d_.ansi.FromUtf8(name))) return -2;
  d_.sleeper.Sleep(1000);
  debug.Write("Success mount flash");
  return 0;
}

bool CUtility::NotifyServiceUsersName(const std::string& file_name) {
  DebugOutput& debug = d_.tool.debug;
  debug.Write("Begin NotifyServiceUsersName");
  std::unique_ptr<NamedMutex> mutex = d_.tool.objects.OpenMutex(kUserListMutexName);
  if (!mutex) {
    bool existed = false;
    mutex = d_.tool.objects.CreateMutex(kUserListMutexName, &existed);
  }
  // A mutex this call created is free and owned at once; one the service
  // holds is waited for.
  if (!mutex || mutex->Wait(kUserListWait) != NamedMutex::WaitResult::kOwned) return false;

  CUserAccountExport accounts(d_.tool);
  accounts.ExportLocalAccountsLogonedEver(d_.tool.state.flash_root, file_name, false);
  std::unique_ptr<NamedMapping> mapping = d_.tool.objects.OpenFileMapping(kUserMappingName);
  if (!mapping) {
    mutex->Release();
    return false;
  }
  std::unique_ptr<MappingView> view = mapping->MapView(kUserViewSize);
  if (!view) {
    mutex->Release();
    return false;
  }
  unsigned char* v = view->data();
  std::memset(v, 0, kUserViewSize);
  const std::string count = Format("%d", static_cast<int>(accounts.accounts().size()));
  std::memcpy(v, count.data(), std::min(count.size(), kCountField - 1));
  size_t slot = 0;
  for (const AccountEntry& account : accounts.accounts()) {
    if (slot == kSlots) break;
    if (!PathExists(d_.tool.files, debug, account.folder + "\\" + file_name)) continue;
    std::u16string name = Utf8ToUtf16(account.name);
    if (name.size() > kNameLimit) {
      // Never half a surrogate pair at the cut.
      const bool split = name[kNameLimit - 1] >= 0xD800 && name[kNameLimit - 1] <= 0xDBFF;
      name.resize(split ? kNameLimit - 1 : kNameLimit);
    }
    const std::string bytes = EncodeUtf16Bytes(name);
    std::memcpy(v + kFirstSlot + kSlotSize * slot, bytes.data(), bytes.size());
    ++slot;
  }
  Diag(debug, "The Account Number is %s", count.c_str());
  const size_t listed = std::min(accounts.accounts().size(), kSlots);
  for (size_t k = 0; k < listed; ++k) {
    const std::string name = Utf16FieldText(
        std::string_view(reinterpret_cast<const char*>(v + kFirstSlot + kSlotSize * k), kSlotSize));
    Diag(debug, "The Account List is %s", name.c_str());
  }
  view.reset();
  mapping.reset();
  mutex->Release();
  debug.Write("End NotifyServiceUsersName");
  return true;
}

}  // namespace kvx
