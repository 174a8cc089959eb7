#include "flash/module_power.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/fakes.h"
#include "tests/hwio_fakes.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class FakeRegistry : public Registry {
 public:
  bool ReadDefaultValue(const std::string& key, size_t max_units, std::string& out) override {
    reads.push_back(key);
    if (failing == key) return false;
    const std::string& v = values[key];
    if (v.size() + 1 > max_units) return false;
    out = v;
    return true;
  }
  bool WriteDefaultValue(const std::string& key, const std::string& value) override {
    writes.push_back(key + "=" + value);
    values[key] = value;
    return true;
  }
  std::map<std::string, std::string> values;
  std::string failing;
  std::vector<std::string> reads, writes;
};

class StaticSource : public SmbiosSource {
 public:
  bool Fetch(RawSmbios& out, std::string&) override {
    out.table = {218, 17, 0x00, 0xDA, 0xB2, 0x00, 0x0D, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
    return true;
  }
};

class ModuleTest : public HardwareFixture {
 protected:
  StaticSource source;
  SMBiosService smbios{debug, source};
  FakeRegistry registry;
  FlashModule module{{io, smbios, devices, registry, files, debug}};
};

TEST_F(ModuleTest, StatusBitsDecideThePower) {
  const std::pair<uint8_t, int> cases[] = {{0x38, 2}, {0x18, 1}, {0x08, -1}, {0x30, -2}, {0x00, -2}};
  for (auto [bits, status] : cases) {
    devices.driver.status_byte = bits;
    EXPECT_EQ(module.CheckFlashStatus(), status) << int(bits);
  }
  EXPECT_FALSE(io.initialised());  // closed after every call
  EXPECT_EQ(devices.driver.bios_calls.back(), (std::pair<uint32_t, uint32_t>{0, 0}));
  EXPECT_TRUE(debug.Has("After ShutdownWinIo in CheckFlashStatus and the iResult is 2"));
}

TEST_F(ModuleTest, BiosResultsAndFailures) {
  devices.driver.bios_result = -1;
  EXPECT_EQ(module.CheckFlashStatus(), 0);
  EXPECT_TRUE(debug.Has("Failed when read bios data."));
  devices.driver.bios_result = -2;
  EXPECT_EQ(module.CheckFlashStatus(), -5);
  devices.driver.bios_result = 7;
  EXPECT_EQ(module.CheckFlashStatus(), -6);
  EXPECT_TRUE(debug.Has("The buf.stCmdBuf.u32Res[0] is 7. in CheckFlashStatus"));
  devices.driver.fail = true;
  EXPECT_EQ(module.CheckFlashStatus(), -3);
  EXPECT_TRUE(debug.Has(" Flash module check flash status and CallInterface failed"));
  devices.answering = false;
  scm.on = false;
  EXPECT_EQ(module.CheckFlashStatus(), 0);
  EXPECT_TRUE(debug.Has("Failed when InitializeWinIo."));
}

TEST_F(ModuleTest, PowerOnAndOffSendTheirArguments) {
  devices.driver.bios_result = 3;
  EXPECT_TRUE(module.PowerOn());  // a non-zero result does not fail it
  EXPECT_TRUE(debug.Has("The buf.stCmdBuf.u32Res[0] is 3. in PowerOn"));
  EXPECT_TRUE(module.PowerOff());
  EXPECT_EQ(devices.driver.bios_calls,
            (std::vector<std::pair<uint32_t, uint32_t>>{{1, 3}, {1, 2}}));
  devices.driver.fail = true;
  EXPECT_FALSE(module.PowerOn());
  EXPECT_FALSE(module.PowerOff());
  EXPECT_TRUE(debug.Has(" Flash module poweroff and CallInterface failed"));
}

TEST_F(ModuleTest, SoundsAreBlankedWhilePoweredAndPutBack) {
  registry.values[kConnectSoundKey] = "C:\\Windows\\Media\\Windows Hardware Insert.wav";
  EXPECT_TRUE(module.PowerOn());
  EXPECT_EQ(registry.values[kConnectSoundKey], "");
  EXPECT_EQ(registry.values[kDisconnectSoundKey], "");
  EXPECT_TRUE(module.PowerOff());
  EXPECT_EQ(registry.values[kConnectSoundKey], "C:\\Windows\\Media\\Windows Hardware Insert.wav");
  EXPECT_EQ(registry.values[kDisconnectSoundKey], "");
  EXPECT_EQ(registry.writes.size(), 4u);
  EXPECT_EQ(module.saved_connect(), "");
}

TEST_F(ModuleTest, EmptyOrUnreadableSoundsAreLeftAlone) {
  EXPECT_TRUE(module.PowerOn());
  EXPECT_TRUE(module.PowerOff());
  EXPECT_TRUE(registry.writes.empty());
  // Too long for the 260-character buffer.
  registry.values[kConnectSoundKey] = std::string(260, 'x');
  EXPECT_FALSE(module.MuteDeviceSounds());
  EXPECT_TRUE(registry.writes.empty());
  // The second read fails after the first succeeded: nothing blanked,
  // nothing kept.
  registry.values[kConnectSoundKey] = "insert.wav";
  registry.failing = kDisconnectSoundKey;
  EXPECT_FALSE(module.MuteDeviceSounds());
  EXPECT_EQ(module.saved_connect(), "");
  EXPECT_TRUE(module.RestoreDeviceSounds());
  EXPECT_TRUE(registry.writes.empty());
}

TEST_F(ModuleTest, TheDriveAnswersOrIsRemoved) {
  files.files["~:\\"] = "";
  EXPECT_TRUE(module.MapFlashDrive("\\Device\\KvxFlash0"));
  EXPECT_STREQ(devices.driver.dos.target, "\\Device\\KvxFlash0");
  EXPECT_EQ(devices.driver.requests.back().code, kIoctlDefineDosDevice);
  files.files.clear();
  EXPECT_FALSE(module.MapFlashDrive("\\Device\\KvxFlash0"));
  EXPECT_TRUE(debug.Has("Cannot access ~:\\, error no is 2"));
  EXPECT_EQ(devices.driver.requests.back().code, kIoctlRemoveDosDevice);
  EXPECT_FALSE(io.initialised());
}

}  // namespace
}  // namespace kvx
