#include "platform/win32/smbios_source_win32.h"

#include <wrl/client.h>

#include <cstring>

#include "platform/win32/com_text.h"

namespace kvx {

using Microsoft::WRL::ComPtr;

namespace {

// 'RSMB', the raw SMBIOS firmware table provider.
constexpr DWORD kRawSmbiosProvider = 0x52534D42;
// The firmware's table begins with its calling method, the two version
// numbers, the DMI revision and the length of the structure table.
constexpr size_t kRawSmbiosHeader = 8;
// WBEM_INFINITE, as the LONG that IEnumWbemClassObject::Next takes.
constexpr LONG kWaitWithoutLimit = -1;

// The low byte of a numeric property; false when the property cannot be
// read as a number.
bool ReadByte(IWbemClassObject& object, const wchar_t* name, uint8_t& out) {
  Variant value;
  if (FAILED(object.Get(name, 0, value.out(), nullptr, nullptr))) return false;
  if (FAILED(VariantChangeType(&value.get(), &value.get(), 0, VT_UI4))) return false;
  out = static_cast<uint8_t>(value.get().ulVal & 0xFF);
  return true;
}

// The bytes of a VT_ARRAY | VT_UI1 property; false for any other type.
bool ReadBytes(IWbemClassObject& object, const wchar_t* name, std::vector<uint8_t>& out) {
  Variant value;
  if (FAILED(object.Get(name, 0, value.out(), nullptr, nullptr))) return false;
  if (value.get().vt != (VT_ARRAY | VT_UI1) || value.get().parray == nullptr) return false;
  SAFEARRAY* array = value.get().parray;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
    return false;
  const size_t count = upper >= lower ? static_cast<size_t>(upper - lower + 1) : 0;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return false;
  out.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
  SafeArrayUnaccessData(array);
  return true;
}

}  // namespace

WmiCalls SystemWmiCalls() {
  WmiCalls calls;
  calls.create_locator = [](IWbemLocator** out) {
    return CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                            reinterpret_cast<void**>(out));
  };
  calls.set_proxy_blanket = [](IWbemServices* services) {
    return CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  };
  using FirmwareTable = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  auto get_table = kernel32 ? reinterpret_cast<FirmwareTable>(
                                  reinterpret_cast<void*>(GetProcAddress(kernel32, "GetSystemFirmwareTable")))
                            : nullptr;
  if (get_table != nullptr)
    calls.firmware_table = [get_table](DWORD provider, DWORD id, void* buffer, DWORD size) {
      return get_table(provider, id, buffer, size);
    };
  return calls;
}

bool Win32SmbiosSource::Fetch(RawSmbios& out, std::string& failure) {
  failure.clear();
  RawSmbios raw;
  if (FetchFromWmi(raw, failure)) {
    out = std::move(raw);
    return true;
  }
  RawSmbios firmware;
  if (!FetchFromFirmware(firmware)) return false;
  // The table came after all: the step that failed is still told.
  if (!failure.empty()) debug_.Write(failure);
  failure.clear();
  debug_.Write("FetchSMBiosData: no table from WMI, took GetSystemFirmwareTable('RSMB')");
  out = std::move(firmware);
  return true;
}

bool Win32SmbiosSource::FetchFromWmi(RawSmbios& out, std::string& failure) {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const bool initialised = SUCCEEDED(init);
  if (!initialised) debug_.Write("FetchSMBiosData:; Exit CoInitializeEx");

  bool ok = false;
  {
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    ComPtr<IEnumWbemClassObject> instances;
    if (!calls_.create_locator || FAILED(calls_.create_locator(&locator)) || !locator) {
      failure = "FetchSMBiosData:; Exit CoCreateInstance";
    } else if (FAILED(locator->ConnectServer(Bstr("ROOT\\WMI").get(), nullptr, nullptr, nullptr, 0,
                                             nullptr, nullptr, &services)) ||
               !services) {
      failure = "FetchSMBiosData:; Exit ConnectServer";
    } else if (FAILED(calls_.set_proxy_blanket(services.Get()))) {
      failure = "FetchSMBiosData:; Exit CoSetProxyBlanket";
    } else if (FAILED(services->CreateInstanceEnum(Bstr("MSSMBios_RawSMBiosTables").get(), 0,
                                                   nullptr, &instances)) ||
               !instances) {
      failure = "FetchSMBiosData:; Exit CreateInstanceEnum";
    } else {
      ComPtr<IWbemClassObject> table;
      ULONG returned = 0;
      if (SUCCEEDED(instances->Next(kWaitWithoutLimit, 1, &table, &returned)) && returned == 1 && table) {
        ok = ReadByte(*table.Get(), L"SmbiosMajorVersion", out.major) &&
             ReadByte(*table.Get(), L"SmbiosMinorVersion", out.minor) &&
             ReadBytes(*table.Get(), L"SMBiosData", out.table);
      }
    }
  }
  if (initialised) CoUninitialize();
  return ok;
}

bool Win32SmbiosSource::FetchFromFirmware(RawSmbios& out) {
  if (!calls_.firmware_table) return false;
  const UINT size = calls_.firmware_table(kRawSmbiosProvider, 0, nullptr, 0);
  if (size < kRawSmbiosHeader) return false;
  std::vector<uint8_t> data(size);
  if (calls_.firmware_table(kRawSmbiosProvider, 0, data.data(), size) != size) return false;
  uint32_t length = 0;
  std::memcpy(&length, data.data() + 4, sizeof length);
  // A length beyond what the firmware handed over would read past it.
  if (length > size - kRawSmbiosHeader) return false;
  out.major = data[1];
  out.minor = data[2];
  out.table.assign(data.begin() + kRawSmbiosHeader, data.begin() + kRawSmbiosHeader + length);
  return true;
}

}  // namespace kvx
