// The flash module's status, power and device sounds against the emulated
// firmware and registry.
#include "tests/emulated_hardware.h"

namespace kvx {
namespace {

using testing::EmulatedHardware;

class ModulePowerEmulatorTest : public EmulatedHardware {
 protected:
  int StatusWith(const std::vector<std::string>& knobs) {
    EXPECT_TRUE(emu_.Set(knobs));
    return module_.CheckFlashStatus();
  }
};

TEST_F(ModulePowerEmulatorTest, TheStatusFollowsTheFirmwaresAnswer) {
  EXPECT_EQ(module_.CheckFlashStatus(), 1);  // off
  EXPECT_EQ(StatusWith({"power=on"}), 2);
  EXPECT_EQ(StatusWith({"status_byte=0x08"}), -1);
  EXPECT_EQ(StatusWith({"status_byte=0x30"}), -2);
  EXPECT_EQ(StatusWith({"status_byte=0x18"}), 1);
  EXPECT_EQ(StatusWith({"status_byte=auto", "status_result=-1"}), 0);
  EXPECT_TRUE(debug_.Has("Failed when read bios data."));
  EXPECT_EQ(StatusWith({"status_result=-2"}), -5);
  EXPECT_EQ(StatusWith({"status_result=7"}), -6);
  EXPECT_EQ(StatusWith({"status_result=0", "calling_interface=fail"}), -3);
  EXPECT_TRUE(debug_.Has(" Flash module check flash status and CallInterface failed"));
  // A reply of 20 bytes carries no result words: the status bits read 0.
  EXPECT_EQ(StatusWith({"calling_interface=ok", "reply_length=20"}), -2);
  EXPECT_TRUE(debug_.Has("l != sizeof(sCMD_BUF"));
  EXPECT_EQ(StatusWith({"reply_length=36", "driver=absent", "driver_file=missing"}), 0);
  EXPECT_TRUE(debug_.Has("Failed when InitializeWinIo."));
}

TEST_F(ModulePowerEmulatorTest, PowerOnSilencesTheDeviceSoundsAndPowerOffPutsThemBack) {
  const auto before = registry_.ReadAll();
  ASSERT_EQ(before.size(), 2u);
  ASSERT_TRUE(module_.PowerOn());
  EXPECT_EQ(module_.CheckFlashStatus(), 2);
  for (const auto& [key, value] : registry_.ReadAll()) EXPECT_EQ(value, "") << key;
  EXPECT_EQ(module_.saved_connect(), "C:\\Windows\\media\\Windows Hardware Insert.wav");
  ASSERT_TRUE(module_.PowerOff());
  EXPECT_EQ(registry_.ReadAll(), before);
  EXPECT_EQ(module_.CheckFlashStatus(), 1);
  EXPECT_EQ(LogOf("firmware: power"), (std::vector<std::string>{"firmware: power on", "firmware: power off"}));
}

TEST_F(ModulePowerEmulatorTest, SoundsThatAreEmptyOrTooLongAreLeftAlone) {
  registry_.WriteDefaultValue(kConnectSoundKey, "");
  registry_.WriteDefaultValue(kDisconnectSoundKey, "");
  ASSERT_TRUE(module_.PowerOn());
  EXPECT_TRUE(module_.saved_connect().empty());
  ASSERT_TRUE(module_.PowerOff());
  // 260 characters do not fit the 260-unit buffer with their terminator.
  const std::string long_sound = "C:\\" + std::string(257, 'a');
  registry_.WriteDefaultValue(kDisconnectSoundKey, long_sound);
  registry_.WriteDefaultValue(kConnectSoundKey, "C:\\in.wav");
  EXPECT_FALSE(module_.MuteDeviceSounds());
  EXPECT_TRUE(module_.saved_connect().empty());  // nothing kept when the second read fails
  auto after = registry_.ReadAll();
  EXPECT_EQ(after.begin()->second, "C:\\in.wav");  // nothing blanked
  ASSERT_TRUE(module_.PowerOn());                   // powers on all the same
  EXPECT_EQ(module_.CheckFlashStatus(), 2);
}

TEST_F(ModulePowerEmulatorTest, FailingPowerRequestsAreReported) {
  ASSERT_TRUE(emu_.Set({"power_on=fail"}));
  EXPECT_FALSE(module_.PowerOn());
  EXPECT_TRUE(debug_.Has(" Flash module poweron and CallInterface failed"));
  ASSERT_TRUE(emu_.Set({"power_on=ok", "power_off=fail"}));
  ASSERT_TRUE(module_.PowerOn());
  EXPECT_FALSE(module_.PowerOff());
  for (const auto& [key, value] : registry_.ReadAll()) EXPECT_EQ(value, "") << "not restored: " << key;
  EXPECT_EQ(module_.CheckFlashStatus(), 2);
}

TEST_F(ModulePowerEmulatorTest, TheFlashDriveAnswersOnlyForAMountedDevice) {
  EXPECT_FALSE(module_.MapFlashDrive("\\Device\\KvxFlashVolume1"));  // nothing mounted
  EXPECT_TRUE(debug_.Has("Cannot access ~:\\, error no is 2"));
  EXPECT_EQ(files_.Access("~:\\", 0), 2);
  ASSERT_TRUE(module_.PowerOn());
  EXPECT_EQ(utility_.NotifyServiceMountFlash(), 0);
  EXPECT_EQ(files_.Access("~:\\quarle.idx", 0), 0);
  EXPECT_EQ(sleeper_.waits, (std::vector<uint32_t>{1000}));
}

}  // namespace
}  // namespace kvx
