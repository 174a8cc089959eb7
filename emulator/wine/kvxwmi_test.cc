// The management stand-in kvxwmi.dll as the tool meets it: registered for
// CLSID_WbemLocator by its own DllRegisterServer, fed the emulated
// firmware's table and entry point from a folder of the test's own, and read
// through the tool's own Win32SmbiosSource (with no firmware-table fallback,
// so only WMI can deliver). Then the COM surface the tool does not walk:
// other namespaces and classes, the enumeration's end, the property types,
// the proxy blanket; the machine's files missing or malformed; and the
// registration taken back. The registry values it touches are restored at
// the end, so it can share a prefix with other tests.
// Usage: kvxwmi_test <kvxwmi.dll>; exit 0 when every check holds.
#include "platform/win32/windows_api.h"
#include <objbase.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "emulator/smbios_table.h"
#include "emulator/wine/wine_machine.h"
#include "platform/win32/com_text.h"
#include "platform/win32/smbios_source_win32.h"
#include "platform/win32/wide_text.h"
#include "tests/temp_dir.h"

namespace {

using Microsoft::WRL::ComPtr;
using kvx::Bstr;
using kvx::Variant;

int g_failures = 0;

#define CHECK(cond)                                                          \
  do {                                                                       \
    if (!(cond)) {                                                           \
      std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
      ++g_failures;                                                          \
    }                                                                        \
  } while (0)

constexpr wchar_t kServerKey[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
// The locator's class is read by COM in the view of the caller's bitness;
// the machine's own key lives in the 64-bit view whoever reads it.
constexpr REGSAM kOwnView = 0;
constexpr REGSAM k64 = KEY_WOW64_64KEY;

// WBEM_INFINITE, as the LONG that IEnumWbemClassObject::Next takes.
constexpr LONG kWaitWithoutLimit = -1;

HRESULT Wbem(WBEMSTATUS status) { return static_cast<HRESULT>(status); }

// A registry value as it was, put back when this goes.
class SavedValue {
 public:
  SavedValue(const wchar_t* subkey, const wchar_t* name, REGSAM view)
      : subkey_(subkey), name_(name ? name : L""), view_(view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
      return;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type_, nullptr, &bytes) == ERROR_SUCCESS) {
      data_.resize(bytes);
      existed_ = RegQueryValueExW(key, name, nullptr, &type_, data_.data(), &bytes) == ERROR_SUCCESS;
      data_.resize(bytes);
    }
    RegCloseKey(key);
  }
  ~SavedValue() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view_,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
      return;
    const wchar_t* name = name_.empty() ? nullptr : name_.c_str();
    if (existed_)
      RegSetValueExW(key, name, 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
    else
      RegDeleteValueW(key, name);
    RegCloseKey(key);
  }

 private:
  std::wstring subkey_, name_;
  REGSAM view_;
  bool existed_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

// A REG_SZ under HKLM in this program's own view, or "" when absent.
std::wstring ReadString(const wchar_t* subkey, const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD type = 0, bytes = sizeof value - sizeof(wchar_t);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE | kOwnView, &key) != ERROR_SUCCESS)
    return std::wstring();
  const LONG read = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_SZ ? std::wstring(value) : std::wstring();
}

bool SetTablePath(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KVX_WINE_EMULATOR_KEY, 0, nullptr, 0, KEY_SET_VALUE | k64,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const bool ok =
      RegSetValueExW(key, KVX_WINE_SMBIOS_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                     static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

void ClearTablePath() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVX_WINE_EMULATOR_KEY, 0, KEY_SET_VALUE | k64, &key) ==
      ERROR_SUCCESS) {
    RegDeleteValueW(key, KVX_WINE_SMBIOS_VALUE);
    RegCloseKey(key);
  }
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A 2.x entry point ("_SM_", 31 bytes) for a table of `size` bytes.
std::vector<uint8_t> EntryPoint2(uint8_t major, uint8_t minor, uint16_t size) {
  std::vector<uint8_t> e = {'_', 'S', 'M', '_', 0, 0x1F, major, minor, 0x40, 0, 0, 0, 0, 0, 0, 0,
                            '_', 'D', 'M', 'I', '_', 0, static_cast<uint8_t>(size & 0xFF),
                            static_cast<uint8_t>(size >> 8), 0, 0x10, 0x0F, 0, 5, 0,
                            static_cast<uint8_t>((major << 4) | minor)};
  uint8_t sum = 0;
  for (size_t i = 16; i < e.size(); ++i) sum = static_cast<uint8_t>(sum + e[i]);
  e[21] = static_cast<uint8_t>(0x100 - sum);
  sum = 0;
  for (uint8_t b : e) sum = static_cast<uint8_t>(sum + b);
  e[4] = static_cast<uint8_t>(0x100 - sum);
  return e;
}

class Lines : public kvx::DebugOutput {
 public:
  void Write(std::string_view text) override { lines.emplace_back(text); }
  std::vector<std::string> lines;
};

// The tool's own fetch, with WMI as the only source.
bool ToolFetch(kvx::RawSmbios& out, std::string& failure, Lines& debug) {
  kvx::WmiCalls calls = kvx::SystemWmiCalls();
  calls.firmware_table = nullptr;
  kvx::Win32SmbiosSource source(debug, calls);
  return source.Fetch(out, failure);
}

void ExpectToolFails(const char* what) {
  kvx::RawSmbios raw;
  std::string failure;
  Lines debug;
  const bool fetched = ToolFetch(raw, failure, debug);
  if (fetched || failure != "FetchSMBiosData:; Exit CreateInstanceEnum")
    std::fprintf(stderr, "with %s: fetched=%d failure=\"%s\"\n", what, fetched, failure.c_str());
  CHECK(!fetched);
  CHECK(failure == "FetchSMBiosData:; Exit CreateInstanceEnum");
}

void CheckComSurface(const std::vector<uint8_t>& table) {
  ComPtr<IWbemLocator> locator;
  CHECK(SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                   reinterpret_cast<void**>(locator.GetAddressOf()))));
  if (!locator) return;

  // Only ROOT\WMI, in any case and spelling of the local machine.
  for (const char* other : {"ROOT\\CIMV2", "ROOT", "ROOT\\WMI\\X", "\\\\server\\ROOT\\WMI", ""}) {
    IWbemServices* services = reinterpret_cast<IWbemServices*>(1);
    CHECK(locator->ConnectServer(Bstr(other).get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                 &services) == Wbem(WBEM_E_INVALID_NAMESPACE));
    CHECK(services == nullptr);
  }
  for (const char* same : {"root\\wmi", "\\\\.\\Root\\Wmi", "//./root/wmi"}) {
    ComPtr<IWbemServices> services;
    CHECK(SUCCEEDED(locator->ConnectServer(Bstr(same).get(), nullptr, nullptr, nullptr, 0, nullptr,
                                           nullptr, &services)));
    CHECK(services != nullptr);
  }

  ComPtr<IWbemServices> services;
  CHECK(SUCCEEDED(locator->ConnectServer(Bstr("ROOT\\WMI").get(), nullptr, nullptr, nullptr, 0,
                                         nullptr, nullptr, &services)));
  if (!services) return;
  // The blanket the tool sets is kept and reported back.
  CHECK(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                          RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                          EOAC_NONE) == S_OK);
  DWORD level = 0, impersonation = 0;
  CHECK(CoQueryProxyBlanket(services.Get(), nullptr, nullptr, nullptr, &level, &impersonation,
                            nullptr, nullptr) == S_OK);
  CHECK(level == RPC_C_AUTHN_LEVEL_PKT_PRIVACY);
  CHECK(impersonation == RPC_C_IMP_LEVEL_IMPERSONATE);

  IEnumWbemClassObject* none = reinterpret_cast<IEnumWbemClassObject*>(1);
  CHECK(services->CreateInstanceEnum(Bstr("Win32_BIOS").get(), 0, nullptr, &none) ==
        Wbem(WBEM_E_INVALID_CLASS));
  CHECK(none == nullptr);
  none = reinterpret_cast<IEnumWbemClassObject*>(1);
  CHECK(services->ExecQuery(Bstr("WQL").get(), Bstr("SELECT * FROM MSSMBios_RawSMBiosTables").get(),
                            0, nullptr, &none) == Wbem(WBEM_E_NOT_SUPPORTED));
  CHECK(none == nullptr);

  ComPtr<IEnumWbemClassObject> instances;
  CHECK(SUCCEEDED(services->CreateInstanceEnum(Bstr("mssmbios_rawsmbiostables").get(), 0, nullptr,
                                               &instances)));
  if (!instances) return;
  // One instance, then the end; after Reset, asking for two gives the one.
  ComPtr<IWbemClassObject> object;
  ULONG returned = 9;
  CHECK(instances->Next(kWaitWithoutLimit, 1, object.GetAddressOf(), &returned) == WBEM_S_NO_ERROR);
  CHECK(returned == 1 && object != nullptr);
  IWbemClassObject* objects[2] = {};
  CHECK(instances->Next(kWaitWithoutLimit, 1, objects, &returned) == WBEM_S_FALSE);
  CHECK(returned == 0 && objects[0] == nullptr);
  CHECK(instances->Reset() == WBEM_S_NO_ERROR);
  CHECK(instances->Next(kWaitWithoutLimit, 2, objects, &returned) == WBEM_S_FALSE);
  CHECK(returned == 1 && objects[0] != nullptr);
  if (objects[0]) objects[0]->Release();
  if (!object) return;

  Variant value;
  CIMTYPE type = 0;
  CHECK(object->Get(L"Size", 0, value.out(), &type, nullptr) == WBEM_S_NO_ERROR);
  CHECK(value.get().vt == VT_I4 && type == CIM_UINT32);
  CHECK(value.get().lVal == static_cast<LONG>(table.size()));
  CHECK(object->Get(L"smbiosdata", 0, value.out(), &type, nullptr) == WBEM_S_NO_ERROR);
  CHECK(value.get().vt == (VT_ARRAY | VT_UI1) && type == (CIM_UINT8 | CIM_FLAG_ARRAY));
  CHECK(object->Get(L"SmbiosMajorVersion", 0, value.out(), &type, nullptr) == WBEM_S_NO_ERROR);
  CHECK(value.get().vt == VT_UI1 && type == CIM_UINT8);
  CHECK(object->Get(L"__CLASS", 0, value.out(), nullptr, nullptr) == WBEM_S_NO_ERROR);
  CHECK(value.get().vt == VT_BSTR &&
        std::wstring(value.get().bstrVal) == L"MSSMBios_RawSMBiosTables");
  CHECK(object->Get(L"InstanceNameX", 0, value.out(), nullptr, nullptr) == Wbem(WBEM_E_NOT_FOUND));
  CHECK(value.get().vt == VT_EMPTY);
  CHECK(object->Put(L"Size", 0, &value.get(), 0) == Wbem(WBEM_E_NOT_SUPPORTED));
}

int Run(const std::wstring& dll_path) {
  // What the test changes, put back however it ends.
  SavedValue server(kServerKey, nullptr, kOwnView);
  SavedValue threading(kServerKey, L"ThreadingModel", kOwnView);
  SavedValue table_value(KVX_WINE_EMULATOR_KEY, KVX_WINE_SMBIOS_VALUE, k64);

  HMODULE dll = LoadLibraryW(dll_path.c_str());
  if (dll == nullptr) {
    std::fprintf(stderr, "cannot load %ls (error %lu)\n", dll_path.c_str(), GetLastError());
    return 1;
  }
  using Entry = HRESULT(STDAPICALLTYPE*)();
  auto entry = [dll](const char* name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  };
  const Entry reg = entry("DllRegisterServer");
  const Entry unreg = entry("DllUnregisterServer");
  const Entry can_unload = entry("DllCanUnloadNow");
  CHECK(reg && unreg && can_unload && entry("DllGetClassObject"));
  if (!reg || !unreg || !can_unload) return 1;

  wchar_t loaded[MAX_PATH] = {};
  GetModuleFileNameW(dll, loaded, MAX_PATH);
  CHECK(reg() == S_OK);
  CHECK(CompareStringOrdinal(ReadString(kServerKey, nullptr).c_str(), -1, loaded, -1, TRUE) ==
        CSTR_EQUAL);
  CHECK(ReadString(kServerKey, L"ThreadingModel") == L"Both");

  kvx::testing::TempDir dir;
  const std::string dmi = dir / "DMI";
  const std::string entry_point = dir / "smbios_entry_point";
  const std::vector<uint8_t> table = kvx::emu::BuildSmbiosTable();
  CHECK(kvx::testing::WriteFile(dmi, Text(table)));
  CHECK(kvx::testing::WriteFile(
      entry_point,
      Text(kvx::emu::BuildEntryPoint(static_cast<uint32_t>(table.size()), kvx::emu::kTableAddress))));
  CHECK(SetTablePath(kvx::Wide(dmi)));

  {
    // The tool's own road: the emulated firmware's 3.0 table, byte for byte.
    kvx::RawSmbios raw;
    std::string failure;
    Lines debug;
    CHECK(ToolFetch(raw, failure, debug));
    CHECK(failure.empty());
    CHECK(debug.lines.empty());
    CHECK(raw.major == 3 && raw.minor == 0);
    CHECK(raw.table == table);
  }
  {
    // Each enumeration reads the files afresh: a 2.8 table written since.
    std::vector<uint8_t> shorter(table.begin(), table.end() - 6);
    CHECK(kvx::testing::WriteFile(dmi, Text(shorter)));
    CHECK(kvx::testing::WriteFile(entry_point,
                                  Text(EntryPoint2(2, 8, static_cast<uint16_t>(shorter.size())))));
    kvx::RawSmbios raw;
    std::string failure;
    Lines debug;
    CHECK(ToolFetch(raw, failure, debug));
    CHECK(raw.major == 2 && raw.minor == 8);
    CHECK(raw.table == shorter);
    CHECK(kvx::testing::WriteFile(dmi, Text(table)));
  }

  CheckComSurface(table);

  // The machine's files missing or malformed: the enumeration fails, the
  // tool says which step, nothing crashes.
  CHECK(kvx::testing::WriteFile(entry_point, "_SM3_"));
  ExpectToolFails("a short entry point");
  CHECK(kvx::testing::WriteFile(entry_point, std::string(24, 'x')));
  ExpectToolFails("an entry point of no known anchor");
  DeleteFileW(kvx::Wide(entry_point).c_str());
  ExpectToolFails("no entry point");
  CHECK(kvx::testing::WriteFile(
      entry_point,
      Text(kvx::emu::BuildEntryPoint(static_cast<uint32_t>(table.size()), kvx::emu::kTableAddress))));
  CHECK(SetTablePath(kvx::Wide(dir / "NoSuchTable")));
  ExpectToolFails("no table file");
  CHECK(SetTablePath(L"DMI"));
  ExpectToolFails("a relative table path");
  ClearTablePath();
  ExpectToolFails("no table path");

  // Everything released: the DLL may go. Unregistering hands the locator
  // back to the system's server.
  CoFreeUnusedLibraries();
  CHECK(can_unload() == S_OK);
  CHECK(unreg() == S_OK);
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  CHECK(CompareStringOrdinal(ReadString(kServerKey, nullptr).c_str(), -1,
                             (std::wstring(system) + L"\\wbem\\wbemprox.dll").c_str(), -1,
                             TRUE) == CSTR_EQUAL);
  // Another server's registration is left as it is.
  CHECK(unreg() == S_OK);
  CHECK(CompareStringOrdinal(ReadString(kServerKey, nullptr).c_str(), -1,
                             (std::wstring(system) + L"\\wbem\\wbemprox.dll").c_str(), -1,
                             TRUE) == CSTR_EQUAL);
  FreeLibrary(dll);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kvxwmi_test <kvxwmi.dll>\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const int rc = Run(argv[1]);
  CoUninitialize();
  if (rc != 0) std::fprintf(stderr, "%d check(s) failed\n", g_failures);
  return rc;
}
