// kvxwmi.dll: the emulated machine's management instrumentation. Wine's own
// ROOT\WMI class MSSMBios_RawSMBiosTables has no data, so the emulated
// machine registers this in-process server for CLSID_WbemLocator instead.
// Its locator connects to ROOT\WMI only, and the namespace serves one class,
// MSSMBios_RawSMBiosTables, with one instance read from the machine's files
// each time the instances are enumerated:
//   - the DMI table file named by the REG_SZ KVX_WINE_SMBIOS_VALUE under
//     HKEY_LOCAL_MACHINE\KVX_WINE_EMULATOR_KEY (a Windows path);
//   - "smbios_entry_point" in the same folder, laid out as Linux's sysfs
//     gives it: "_SM_" (2.x, versions at bytes 6 and 7) or "_SM3_" (3.x,
//     versions at bytes 7 and 8).
// The instance carries SmbiosMajorVersion and SmbiosMinorVersion (uint8,
// VT_UI1), SMBiosData (uint8[], VT_ARRAY | VT_UI1) and Size (uint32, VT_I4)
// as WMI types them. Another namespace is WBEM_E_INVALID_NAMESPACE, another
// class WBEM_E_INVALID_CLASS, and every call this namespace has no use for
// is WBEM_E_NOT_SUPPORTED.
//
// The services object also answers IClientSecurity, so CoSetProxyBlanket on
// it succeeds as it does on the system's proxy; the blanket is recorded and
// reported back, and changes nothing in-process.
//
// DllRegisterServer points the locator's class at this file (ThreadingModel
// Both) in the registry view of the file's own bitness, which is the view
// its callers' COM reads: the 64-bit build in the 64-bit view, the 32-bit
// build (kvxwmi32.dll) in the 32-bit one. DllUnregisterServer points it back
// at the system's wbemprox.dll when it is this file's registration. The
// machine's own key (the table's path) is read in the 64-bit view, where the
// machine writes it, by either build.
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <wbemcli.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "emulator/wine/wine_machine.h"

namespace {

HMODULE g_module = nullptr;
// Objects alive and IClassFactory::LockServer locks: the DLL may go only
// when both are zero.
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

constexpr wchar_t kNamespace[] = L"ROOT\\WMI";
constexpr wchar_t kTableClass[] = L"MSSMBios_RawSMBiosTables";
constexpr wchar_t kEntryPointName[] = L"smbios_entry_point";
constexpr wchar_t kLocatorKey[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}";
constexpr wchar_t kLocatorServerKey[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
// No firmware table is larger than this; a larger file is not one.
constexpr uint64_t kTableLimit = 1u << 20;
constexpr uint64_t kEntryPointLimit = 64;

HRESULT Wbem(WBEMSTATUS status) { return static_cast<HRESULT>(status); }

bool SameName(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The raw table as one enumeration saw it.
struct RawTable {
  uint8_t major = 0;
  uint8_t minor = 0;
  std::vector<uint8_t> data;
};

// A whole file of at most `limit` bytes; false when it cannot be read whole.
bool ReadWholeFile(const std::wstring& path, uint64_t limit, std::vector<uint8_t>& out) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = false;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
      static_cast<uint64_t>(size.QuadPart) <= limit) {
    out.assign(static_cast<size_t>(size.QuadPart), 0);
    size_t done = 0;
    ok = true;
    while (done < out.size()) {
      DWORD got = 0;
      if (!ReadFile(file, out.data() + done, static_cast<DWORD>(out.size() - done), &got, nullptr) ||
          got == 0) {
        ok = false;
        break;
      }
      done += got;
    }
    // A file that grew while read is not the table it said it was.
    DWORD extra = 0;
    uint8_t probe = 0;
    if (ok && ReadFile(file, &probe, 1, &extra, nullptr) && extra != 0) ok = false;
  }
  CloseHandle(file);
  return ok;
}

// The DMI file's Windows path from the registry; false when absent, not a
// string, or not an absolute path with a folder.
bool TablePath(std::wstring& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVX_WINE_EMULATOR_KEY, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, bytes = 0;
  bool ok = RegQueryValueExW(key, KVX_WINE_SMBIOS_VALUE, nullptr, &type, nullptr, &bytes) ==
                ERROR_SUCCESS &&
            type == REG_SZ && bytes >= sizeof(wchar_t) && bytes <= 32768 * sizeof(wchar_t);
  std::wstring value;
  if (ok) {
    value.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    ok = RegQueryValueExW(key, KVX_WINE_SMBIOS_VALUE, nullptr, &type,
                          reinterpret_cast<BYTE*>(value.data()), &bytes) == ERROR_SUCCESS &&
         type == REG_SZ;
  }
  RegCloseKey(key);
  if (!ok) return false;
  value.resize(wcsnlen(value.c_str(), value.size()));
  // "X:\..." or "\\server\..." only: a relative name would be read from
  // wherever the client happens to stand.
  const bool drive = value.size() > 3 && value[1] == L':' && (value[2] == L'\\' || value[2] == L'/');
  const bool unc = value.size() > 2 && value[0] == L'\\' && value[1] == L'\\';
  if (!drive && !unc) return false;
  const size_t slash = value.find_last_of(L"\\/");
  if (slash == std::wstring::npos || slash + 1 == value.size()) return false;
  out = value;
  return true;
}

// Reads the table and its versions from the machine's files.
bool ReadMachineTable(RawTable& out) {
  std::wstring table_path;
  if (!TablePath(table_path)) return false;
  const std::wstring entry_path =
      table_path.substr(0, table_path.find_last_of(L"\\/") + 1) + kEntryPointName;
  std::vector<uint8_t> entry;
  if (!ReadWholeFile(entry_path, kEntryPointLimit, entry)) return false;
  // The 3.x entry point is 24 bytes, the 2.x one 31 (30 in some 2.1 firmware).
  if (entry.size() >= 24 && std::memcmp(entry.data(), "_SM3_", 5) == 0) {
    out.major = entry[7];
    out.minor = entry[8];
  } else if (entry.size() >= 30 && std::memcmp(entry.data(), "_SM_", 4) == 0) {
    out.major = entry[6];
    out.minor = entry[7];
  } else {
    return false;
  }
  return ReadWholeFile(table_path, kTableLimit, out.data);
}

// The reference count and the DLL's object count every object here shares.
class Counted {
 protected:
  Counted() { ++g_objects; }
  virtual ~Counted() { --g_objects; }
  ULONG Up() { return static_cast<ULONG>(++refs_); }
  ULONG Down() {
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  std::atomic<long> refs_{1};
};

#define KVX_COUNTED_REFS                                     \
  ULONG STDMETHODCALLTYPE AddRef() override { return Up(); } \
  ULONG STDMETHODCALLTYPE Release() override { return Down(); }

// One instance of MSSMBios_RawSMBiosTables: reads only.
class TableObject final : public IWbemClassObject, private Counted {
 public:
  explicit TableObject(std::shared_ptr<const RawTable> table) : table_(std::move(table)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(IWbemClassObject)) return E_NOINTERFACE;
    *out = static_cast<IWbemClassObject*>(this);
    AddRef();
    return S_OK;
  }
  KVX_COUNTED_REFS

  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type,
                                LONG* flavor) override {
    if (name == nullptr) return Wbem(WBEM_E_INVALID_PARAMETER);
    if (value) VariantInit(value);
    CIMTYPE cim = CIM_EMPTY;
    VARIANT v;
    VariantInit(&v);
    if (SameName(name, L"SmbiosMajorVersion") || SameName(name, L"SmbiosMinorVersion")) {
      cim = CIM_UINT8;
      v.vt = VT_UI1;
      v.bVal = SameName(name, L"SmbiosMajorVersion") ? table_->major : table_->minor;
    } else if (SameName(name, L"Size")) {
      cim = CIM_UINT32;
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(table_->data.size());
    } else if (SameName(name, L"SMBiosData")) {
      cim = CIM_UINT8 | CIM_FLAG_ARRAY;
      if (value) {
        SAFEARRAY* array =
            SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(table_->data.size()));
        if (array == nullptr) return Wbem(WBEM_E_OUT_OF_MEMORY);
        void* bytes = nullptr;
        if (FAILED(SafeArrayAccessData(array, &bytes))) {
          SafeArrayDestroy(array);
          return Wbem(WBEM_E_OUT_OF_MEMORY);
        }
        if (!table_->data.empty()) std::memcpy(bytes, table_->data.data(), table_->data.size());
        SafeArrayUnaccessData(array);
        v.vt = VT_ARRAY | VT_UI1;
        v.parray = array;
      }
    } else if (SameName(name, L"__CLASS")) {
      cim = CIM_STRING;
      if (value) {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(kTableClass);
        if (v.bstrVal == nullptr) return Wbem(WBEM_E_OUT_OF_MEMORY);
      }
    } else {
      return Wbem(WBEM_E_NOT_FOUND);
    }
    if (value) {
      *value = v;
    } else {
      VariantClear(&v);
    }
    if (type) *type = cim;
    if (flavor) *flavor = WBEM_FLAVOR_ORIGIN_PROPAGATED;
    return WBEM_S_NO_ERROR;
  }

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return Wbem(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return Wbem(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE Next(LONG, BSTR* name, VARIANT* value, CIMTYPE*, LONG*) override {
    if (name) *name = nullptr;
    if (value) VariantInit(value);
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE EndEnumeration() override { return Wbem(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** out) override {
    if (out == nullptr) return Wbem(WBEM_E_INVALID_PARAMETER);
    *out = new (std::nothrow) TableObject(table_);
    return *out ? Wbem(WBEM_S_NO_ERROR) : Wbem(WBEM_E_OUT_OF_MEMORY);
  }
  HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR* out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR* out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return Wbem(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject** in,
                                      IWbemClassObject** out) override {
    if (in) *in = nullptr;
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return Wbem(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR* name, IWbemClassObject** in,
                                       IWbemClassObject** out) override {
    if (name) *name = nullptr;
    if (in) *in = nullptr;
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return Wbem(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR* out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }

 private:
  const std::shared_ptr<const RawTable> table_;
};

// The instances of one enumeration: the one table instance, read when the
// enumeration began.
class TableEnum final : public IEnumWbemClassObject, private Counted {
 public:
  TableEnum(std::shared_ptr<const RawTable> table, ULONG position)
      : table_(std::move(table)), position_(position) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(IEnumWbemClassObject)) return E_NOINTERFACE;
    *out = static_cast<IEnumWbemClassObject*>(this);
    AddRef();
    return S_OK;
  }
  KVX_COUNTED_REFS

  HRESULT STDMETHODCALLTYPE Reset() override {
    std::lock_guard<std::mutex> hold(lock_);
    position_ = 0;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE Next(LONG, ULONG count, IWbemClassObject** objects,
                                 ULONG* returned) override {
    if (objects == nullptr || returned == nullptr) return Wbem(WBEM_E_INVALID_PARAMETER);
    *returned = 0;
    std::lock_guard<std::mutex> hold(lock_);
    while (*returned < count && position_ < kInstances) {
      IWbemClassObject* object = new (std::nothrow) TableObject(table_);
      if (object == nullptr) {
        if (*returned == 0) return Wbem(WBEM_E_OUT_OF_MEMORY);
        break;
      }
      objects[(*returned)++] = object;
      ++position_;
    }
    return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** out) override {
    if (out == nullptr) return Wbem(WBEM_E_INVALID_PARAMETER);
    std::lock_guard<std::mutex> hold(lock_);
    *out = new (std::nothrow) TableEnum(table_, position_);
    return *out ? Wbem(WBEM_S_NO_ERROR) : Wbem(WBEM_E_OUT_OF_MEMORY);
  }
  HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG count) override {
    std::lock_guard<std::mutex> hold(lock_);
    const ULONG left = kInstances - position_;
    const ULONG step = count < left ? count : left;
    position_ += step;
    return step == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

 private:
  static constexpr ULONG kInstances = 1;
  const std::shared_ptr<const RawTable> table_;
  std::mutex lock_;
  ULONG position_;
};

// ROOT\WMI as far as the raw SMBIOS table goes.
class Services final : public IWbemServices, public IClientSecurity, private Counted {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == __uuidof(IWbemServices)) {
      *out = static_cast<IWbemServices*>(this);
    } else if (riid == IID_IClientSecurity) {
      *out = static_cast<IClientSecurity*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  KVX_COUNTED_REFS

  // IClientSecurity: what CoSetProxyBlanket and CoQueryProxyBlanket reach.
  HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD* authn, DWORD* authz, OLECHAR** principal,
                                         DWORD* level, DWORD* impersonation, void** identity,
                                         DWORD* capabilities) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (authn) *authn = blanket_.authn;
    if (authz) *authz = blanket_.authz;
    if (principal) *principal = nullptr;
    if (level) *level = blanket_.level;
    if (impersonation) *impersonation = blanket_.impersonation;
    if (identity) *identity = nullptr;
    if (capabilities) *capabilities = blanket_.capabilities;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD authn, DWORD authz, OLECHAR*, DWORD level,
                                       DWORD impersonation, void*, DWORD capabilities) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (authn != RPC_C_AUTHN_DEFAULT) blanket_.authn = authn;
    if (authz != RPC_C_AUTHZ_DEFAULT) blanket_.authz = authz;
    if (level != RPC_C_AUTHN_LEVEL_DEFAULT) blanket_.level = level;
    if (impersonation != RPC_C_IMP_LEVEL_DEFAULT) blanket_.impersonation = impersonation;
    blanket_.capabilities = capabilities;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown* proxy, IUnknown** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    if (proxy == nullptr) return E_INVALIDARG;
    // In-process there is no proxy to copy: the object itself serves.
    return proxy->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(copy));
  }

  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR class_name, LONG, IWbemContext*,
                                               IEnumWbemClassObject** out) override {
    if (out == nullptr || class_name == nullptr) return Wbem(WBEM_E_INVALID_PARAMETER);
    *out = nullptr;
    if (!SameName(class_name, kTableClass)) return Wbem(WBEM_E_INVALID_CLASS);
    auto table = std::make_shared<RawTable>();
    if (!ReadMachineTable(*table)) return Wbem(WBEM_E_FAILED);
    *out = new (std::nothrow) TableEnum(std::move(table), 0);
    return *out ? Wbem(WBEM_S_NO_ERROR) : Wbem(WBEM_E_OUT_OF_MEMORY);
  }

  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices** out,
                                          IWbemCallResult** result) override {
    if (out) *out = nullptr;
    if (result) *result = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject** out,
                                      IWbemCallResult** result) override {
    if (out) *out = nullptr;
    if (result) *result = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*,
                                           IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*,
                                     IWbemCallResult** result) override {
    if (result) *result = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*,
                                          IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*,
                                        IWbemCallResult** result) override {
    if (result) *result = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                            IEnumWbemClassObject** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*,
                                                 IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*,
                                        IWbemCallResult** result) override {
    if (result) *result = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*,
                                           IWbemCallResult** result) override {
    if (result) *result = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*,
                                                IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                    IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                      IEnumWbemClassObject** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                           IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                  IEnumWbemClassObject** out) override {
    if (out) *out = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                       IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*,
                                       IWbemClassObject*, IWbemClassObject** out,
                                       IWbemCallResult** result) override {
    if (out) *out = nullptr;
    if (result) *result = nullptr;
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                            IWbemClassObject*, IWbemObjectSink*) override {
    return Wbem(WBEM_E_NOT_SUPPORTED);
  }

 private:
  struct Blanket {
    DWORD authn = RPC_C_AUTHN_WINNT;
    DWORD authz = RPC_C_AUTHZ_NONE;
    DWORD level = RPC_C_AUTHN_LEVEL_CONNECT;
    DWORD impersonation = RPC_C_IMP_LEVEL_IMPERSONATE;
    DWORD capabilities = EOAC_NONE;
  };
  std::mutex lock_;
  Blanket blanket_;
};

// "ROOT\WMI" in any case, with '/' for '\', optionally on the local
// machine ("\\.\ROOT\WMI").
bool IsServedNamespace(const wchar_t* name) {
  std::wstring n(name);
  for (wchar_t& c : n)
    if (c == L'/') c = L'\\';
  if (n.rfind(L"\\\\.\\", 0) == 0) n.erase(0, 4);
  return SameName(n.c_str(), kNamespace);
}

class Locator final : public IWbemLocator, private Counted {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(IWbemLocator)) return E_NOINTERFACE;
    *out = static_cast<IWbemLocator*>(this);
    AddRef();
    return S_OK;
  }
  KVX_COUNTED_REFS

  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR, const BSTR, const BSTR,
                                          LONG, const BSTR, IWbemContext*,
                                          IWbemServices** out) override {
    if (out == nullptr || resource == nullptr) return Wbem(WBEM_E_INVALID_PARAMETER);
    *out = nullptr;
    if (!IsServedNamespace(resource)) return Wbem(WBEM_E_INVALID_NAMESPACE);
    Services* services = new (std::nothrow) Services();
    if (services == nullptr) return Wbem(WBEM_E_OUT_OF_MEMORY);
    *out = services;
    return WBEM_S_NO_ERROR;
  }
};

class LocatorFactory final : public IClassFactory, private Counted {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  KVX_COUNTED_REFS

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Locator* locator = new (std::nothrow) Locator();
    if (locator == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = locator->QueryInterface(riid, out);
    locator->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++g_locks;
    } else {
      --g_locks;
    }
    return S_OK;
  }
};

// This file's full path.
std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Points the locator's in-process server at `path`.
bool RegisterServer(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLocatorServerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const bool ok = SetString(key, nullptr, path) && SetString(key, L"ThreadingModel", L"Both");
  RegCloseKey(key);
  return ok;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_WbemLocator) return CLASS_E_CLASSNOTAVAILABLE;
  LocatorFactory* factory = new (std::nothrow) LocatorFactory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, out);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  const std::wstring path = ModulePath();
  if (path.empty() || !RegisterServer(path)) return SELFREG_E_CLASS;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLocatorKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  const bool ok = SetString(key, nullptr, L"WBEM Locator");
  RegCloseKey(key);
  return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLocatorServerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return S_OK;
  wchar_t current[32768 / sizeof(wchar_t)] = {};
  DWORD type = 0, bytes = sizeof current - sizeof(wchar_t);
  const bool read = RegQueryValueExW(key, nullptr, nullptr, &type,
                                     reinterpret_cast<BYTE*>(current), &bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  // Another server's registration is not this file's to take away.
  const std::wstring self = ModulePath();
  if (!read || type != REG_SZ || self.empty() || !SameName(current, self.c_str())) return S_OK;
  wchar_t system[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
  return RegisterServer(std::wstring(system) + L"\\wbem\\wbemprox.dll") ? S_OK : SELFREG_E_CLASS;
}
