#include "platform/win32/smbios_source_win32.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hwio/smbios_service.h"
#include "platform/win32/com_text.h"
#include "tests/com_stubs.h"
#include "tests/fakes.h"

namespace kvx {
namespace {

using namespace kvx::testing;

// One instance of the raw table class: the two version numbers and the
// table as WMI types them, or the data of another type.
class FakeTableObject : public StubWbemClassObject {
 public:
  explicit FakeTableObject(std::vector<uint8_t> data, bool as_text = false)
      : data_(std::move(data)), as_text_(as_text) {}
  HRESULT WINAPI Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE*, LONG*) override {
    VariantInit(value);
    const std::wstring n = name;
    if (n == L"SmbiosMajorVersion" || n == L"SmbiosMinorVersion") {
      value->vt = VT_UI1;
      value->bVal = n == L"SmbiosMajorVersion" ? 3 : 4;
      return S_OK;
    }
    if (n != L"SMBiosData") return static_cast<HRESULT>(WBEM_E_NOT_FOUND);
    if (as_text_) {
      value->vt = VT_BSTR;
      value->bstrVal = SysAllocString(L"not bytes");
      return S_OK;
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data_.size()));
    void* bytes = nullptr;
    SafeArrayAccessData(array, &bytes);
    if (!data_.empty()) std::memcpy(bytes, data_.data(), data_.size());
    SafeArrayUnaccessData(array);
    value->vt = VT_ARRAY | VT_UI1;
    value->parray = array;
    return S_OK;
  }

 private:
  std::vector<uint8_t> data_;
  bool as_text_;
};

// Where the fake WMI fails, and what it holds.
struct FakeWmi {
  enum Step { kNone, kLocator, kConnect, kBlanket, kEnum } fail = kNone;
  bool instance = true;
  bool data_as_text = false;
  std::vector<uint8_t> data = {0xDA, 0x0B, 0x01, 0x00, 0xB2, 0x00, 0x0D, 0, 0, 0, 0, 0, 0};
  std::wstring name_space, class_name;
  // A firmware table: header and structure table as GetSystemFirmwareTable
  // gives them; none when empty.
  std::vector<uint8_t> firmware;
  int firmware_calls = 0;
};

class FakeEnum : public StubEnumWbemClassObject {
 public:
  explicit FakeEnum(FakeWmi& wmi) : wmi_(wmi) {}
  HRESULT WINAPI Next(LONG, ULONG, IWbemClassObject** objects, ULONG* returned) override {
    if (!wmi_.instance || given_) return *returned = 0, WBEM_S_FALSE;
    given_ = true;
    *objects = new FakeTableObject(wmi_.data, wmi_.data_as_text);
    *returned = 1;
    return WBEM_S_NO_ERROR;
  }

 private:
  FakeWmi& wmi_;
  bool given_ = false;
};

class FakeServices : public StubWbemServices {
 public:
  explicit FakeServices(FakeWmi& wmi) : wmi_(wmi) {}
  HRESULT WINAPI CreateInstanceEnum(const BSTR name, LONG, IWbemContext*, IEnumWbemClassObject** out) override {
    wmi_.class_name = name;
    if (wmi_.fail == FakeWmi::kEnum) return static_cast<HRESULT>(WBEM_E_INVALID_CLASS);
    *out = new FakeEnum(wmi_);
    return S_OK;
  }

 private:
  FakeWmi& wmi_;
};

class FakeLocator : public StubWbemLocator {
 public:
  explicit FakeLocator(FakeWmi& wmi) : wmi_(wmi) {}
  HRESULT WINAPI ConnectServer(const BSTR name_space, const BSTR, const BSTR, const BSTR, LONG,
                               const BSTR, IWbemContext*, IWbemServices** out) override {
    wmi_.name_space = name_space;
    if (wmi_.fail == FakeWmi::kConnect) return static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE);
    *out = new FakeServices(wmi_);
    return S_OK;
  }

 private:
  FakeWmi& wmi_;
};

WmiCalls FakeCalls(FakeWmi& wmi) {
  WmiCalls calls;
  calls.create_locator = [&wmi](IWbemLocator** out) -> HRESULT {
    if (wmi.fail == FakeWmi::kLocator) return REGDB_E_CLASSNOTREG;
    *out = new FakeLocator(wmi);
    return S_OK;
  };
  calls.set_proxy_blanket = [&wmi](IWbemServices*) -> HRESULT {
    return wmi.fail == FakeWmi::kBlanket ? E_ACCESSDENIED : S_OK;
  };
  calls.firmware_table = [&wmi](DWORD provider, DWORD id, void* buffer, DWORD size) -> UINT {
    ++wmi.firmware_calls;
    if (provider != 0x52534D42 || id != 0 || wmi.firmware.empty()) return 0;
    if (buffer != nullptr && size >= wmi.firmware.size())
      std::memcpy(buffer, wmi.firmware.data(), wmi.firmware.size());
    return static_cast<UINT>(wmi.firmware.size());
  };
  return calls;
}

// The firmware's header: calling method, major, minor, DMI revision and
// the table's length, then the table.
std::vector<uint8_t> Firmware(uint8_t major, uint8_t minor, std::vector<uint8_t> table, uint32_t length) {
  std::vector<uint8_t> out = {0, major, minor, 0};
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
  out.insert(out.end(), table.begin(), table.end());
  return out;
}

class SmbiosSourceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
  bool Fetch() {
    Win32SmbiosSource source(debug_, FakeCalls(wmi_));
    return source.Fetch(raw_, failure_);
  }
  FakeWmi wmi_;
  RecordingDebug debug_;
  RawSmbios raw_;
  std::string failure_;
};

TEST_F(SmbiosSourceTest, TheTableComesFromWmi) {
  ASSERT_TRUE(Fetch());
  EXPECT_EQ(wmi_.name_space, L"ROOT\\WMI");
  EXPECT_EQ(wmi_.class_name, L"MSSMBios_RawSMBiosTables");
  EXPECT_EQ(raw_.major, 3);
  EXPECT_EQ(raw_.minor, 4);
  EXPECT_EQ(raw_.table, wmi_.data);
  EXPECT_EQ(failure_, "");
  EXPECT_EQ(wmi_.firmware_calls, 0);
  // The thread's COM is apartment-threaded: the fetch says it could not
  // have its own and goes on with it.
  EXPECT_EQ(debug_.lines, std::vector<std::string>{"FetchSMBiosData:; Exit CoInitializeEx"});
}

TEST_F(SmbiosSourceTest, EachFailingStepIsNamedAndNothingIsKept) {
  const std::pair<FakeWmi::Step, const char*> steps[] = {
      {FakeWmi::kLocator, "FetchSMBiosData:; Exit CoCreateInstance"},
      {FakeWmi::kConnect, "FetchSMBiosData:; Exit ConnectServer"},
      {FakeWmi::kBlanket, "FetchSMBiosData:; Exit CoSetProxyBlanket"},
      {FakeWmi::kEnum, "FetchSMBiosData:; Exit CreateInstanceEnum"}};
  for (const auto& [step, message] : steps) {
    wmi_.fail = step;
    raw_ = RawSmbios();
    EXPECT_FALSE(Fetch()) << message;
    EXPECT_EQ(failure_, message);
    EXPECT_TRUE(raw_.table.empty());
  }
}

TEST_F(SmbiosSourceTest, NoInstanceOrNoByteArrayIsNoTable) {
  wmi_.instance = false;
  EXPECT_FALSE(Fetch());
  EXPECT_EQ(failure_, "");
  wmi_.instance = true;
  wmi_.data_as_text = true;
  EXPECT_FALSE(Fetch());
  EXPECT_TRUE(raw_.table.empty());
}

TEST_F(SmbiosSourceTest, WithoutATableFromWmiTheFirmwareGivesIt) {
  wmi_.fail = FakeWmi::kEnum;
  const std::vector<uint8_t> table = {0x7F, 0x04, 0x02, 0x00, 0, 0, 0xEE};
  wmi_.firmware = Firmware(2, 7, table, 6);  // a byte beyond the table's length
  ASSERT_TRUE(Fetch());
  EXPECT_EQ(failure_, "");
  EXPECT_EQ(raw_.major, 2);
  EXPECT_EQ(raw_.minor, 7);
  EXPECT_EQ(raw_.table, std::vector<uint8_t>(table.begin(), table.begin() + 6));
  EXPECT_EQ(debug_.lines, (std::vector<std::string>{
                              "FetchSMBiosData:; Exit CoInitializeEx",
                              "FetchSMBiosData:; Exit CreateInstanceEnum",
                              "FetchSMBiosData: no table from WMI, took GetSystemFirmwareTable('RSMB')"}));
}

// A length beyond the bytes handed over would be read past them.
TEST_F(SmbiosSourceTest, AFirmwareTableShorterThanItsLengthIsRefused) {
  wmi_.instance = false;
  wmi_.firmware = Firmware(2, 7, {0x7F, 0x04, 0x02, 0x00, 0, 0}, 7);
  EXPECT_FALSE(Fetch());
  EXPECT_TRUE(raw_.table.empty());
  wmi_.firmware = {0, 2, 7};  // not even a header
  EXPECT_FALSE(Fetch());
}

// Wine's WMI class gives no table; Wine's firmware table is built from
// what the host shows of its DMI data. Whatever comes is a table of
// structures the library can walk, or a failure it can name.
TEST_F(SmbiosSourceTest, TheSystemsSourcesUnderWine) {
  Win32SmbiosSource source(debug_);
  if (source.Fetch(raw_, failure_)) {
    EXPECT_GE(raw_.major, 2);
    const SmbiosTable table(raw_.table);
    size_t structures = 0;
    table.EnumStructures([&](size_t, size_t, uint8_t) { ++structures; });
    EXPECT_GT(structures, 0u);
  } else {
    EXPECT_TRUE(raw_.table.empty());
    EXPECT_TRUE(failure_.empty() || failure_.rfind("FetchSMBiosData:; Exit ", 0) == 0) << failure_;
  }
}

}  // namespace
}  // namespace kvx
