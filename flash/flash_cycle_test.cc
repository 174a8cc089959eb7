// The flash cycle against the emulated machine, with its waits recorded.
#include "tests/emulated_hardware.h"

namespace kvx {
namespace {

using testing::EmulatedHardware;
using testing::JsonValue;

class FlashCycleTest : public EmulatedHardware {
 protected:
  // The machine's registry file, byte for byte.
  std::string RegistryFile() const { return testing::ReadFile(emu_.machine() + "/registry/user.reg"); }
  bool Begin() {
    int status = 3;
    const bool ok = cycle_.BeginFlash(status);
    last_status_ = status;
    return ok;
  }
  int last_status_ = 0;
};

TEST_F(FlashCycleTest, AModuleFoundOffIsPoweredMountedUnlockedAndPoweredOffAgain) {
  ASSERT_TRUE(Begin());
  EXPECT_EQ(state_.flash_root, "~:");
  EXPECT_EQ(last_status_, 1);
  EXPECT_EQ(files_.Access("~:\\quarle.idx", 0), 0);
  EXPECT_EQ(sleeper_.waits, (std::vector<uint32_t>{500, 1000}));
  ASSERT_TRUE(cycle_.EndFlash());
  EXPECT_EQ(sleeper_.waits, (std::vector<uint32_t>{500, 1000, 500}));  // 2.0 s in all
  EXPECT_EQ(state_.flash_root, "~:");
  EXPECT_EQ(files_.Access("~:\\", 0), 2);
  EXPECT_EQ(emu_.Log(), (std::vector<std::string>{
                            "firmware: status 0x18", "firmware: power on",
                            "service: mount -> \\Device\\KvxFlashVolume1",
                            "driver: drive ~ -> \\Device\\KvxFlashVolume1", "service: unlock",
                            "service: unmount", "firmware: status 0x38", "driver: removed drive ~",
                            "firmware: power off"}));
}

TEST_F(FlashCycleTest, AModuleAlreadyOnIsNotPoweredOnAgain) {
  ASSERT_TRUE(emu_.Set({"power=on"}));
  ASSERT_TRUE(Begin());
  EXPECT_EQ(last_status_, 2);
  EXPECT_EQ(sleeper_.waits, (std::vector<uint32_t>{1000}));
  EXPECT_TRUE(LogOf("firmware: power").empty());
}

TEST_F(FlashCycleTest, TenEmptyMountsFailTheCycleAndTheModuleIsPoweredOffAgain) {
  ASSERT_TRUE(emu_.Set({"mount_empty=on"}));
  EXPECT_FALSE(Begin());
  EXPECT_EQ(LogOf("service: mount").size(), 10u);
  EXPECT_EQ(Count(sleeper_.waits, 500), 11);  // the power-on, then one per attempt
  EXPECT_EQ(Count(sleeper_.waits, 1000), 0);  // no power cycle
  EXPECT_TRUE(debug_.Has("The device Name is NULL , NotifyServiceMountFlash return false"));
  EXPECT_TRUE(debug_.Has("flashstatus ==1 and Mountflashsuccessful and the function return is 0 "));
  EXPECT_EQ(state_.flash_root, "");
  // This run powered the module on, so it leaves it off, sounds restored.
  EXPECT_EQ(JsonValue(emu_.State(), "power"), "off");
  EXPECT_EQ(registry_.ReadAll().begin()->second, "C:\\Windows\\media\\Windows Hardware Insert.wav");
}

TEST_F(FlashCycleTest, AMountThatDoesNotAnswerPowerCyclesTheModuleOnce) {
  ASSERT_TRUE(emu_.Set({"mounts_not_answering=1"}));
  ASSERT_TRUE(Begin());
  EXPECT_EQ(sleeper_.waits, (std::vector<uint32_t>{500, 500, 1000, 500, 1000}));
  EXPECT_EQ(LogOf("firmware: power"), (std::vector<std::string>{"firmware: power on", "firmware: power off",
                                                               "firmware: power on"}));
  EXPECT_TRUE(debug_.Has("Flash power off"));
  EXPECT_EQ(LogOf("service: mount").size(), 2u);
  EXPECT_EQ(LogOf("service: unlock").size(), 1u);
}

TEST_F(FlashCycleTest, AModuleFoundOnThatFailsItsTenMountsGetsItsSoundsBack) {
  const std::string before = RegistryFile();
  ASSERT_NE(before.find("Windows Hardware Insert.wav"), std::string::npos);
  ASSERT_TRUE(emu_.Set({"power=on", "mounts_not_answering=10"}));
  EXPECT_FALSE(Begin());
  EXPECT_EQ(LogOf("service: mount").size(), 10u);
  EXPECT_EQ(LogOf("firmware: power on").size(), 10u);  // each power cycle blanked them
  EXPECT_EQ(JsonValue(emu_.State(), "power"), "on");     // found on, left on
  EXPECT_EQ(RegistryFile(), before);
}

TEST_F(FlashCycleTest, WhateverEndsTheCloseTheSoundsComeBack) {
  const std::string before = RegistryFile();
  // The module was switched off behind the tool's back.
  ASSERT_TRUE(Begin());
  ASSERT_NE(RegistryFile(), before);  // blanked while this run powers it
  ASSERT_TRUE(emu_.Set({"power=off"}));
  EXPECT_TRUE(cycle_.EndFlash());
  EXPECT_EQ(RegistryFile(), before);
  // The power-off fails: the module stays on, the sounds come back.
  ASSERT_TRUE(Begin());
  ASSERT_TRUE(emu_.Set({"power_off=fail"}));
  EXPECT_FALSE(cycle_.EndFlash());
  EXPECT_EQ(JsonValue(emu_.State(), "power"), "on");
  EXPECT_EQ(RegistryFile(), before);
  // The unmount cannot be asked: drive and power stay, the sounds come back.
  ASSERT_TRUE(emu_.Set({"power_off=ok", "power=off"}));
  ASSERT_TRUE(Begin());
  ASSERT_TRUE(emu_.Set({"scm_opens_left=0"}));
  EXPECT_FALSE(cycle_.EndFlash());
  EXPECT_EQ(files_.Access("~:\\quarle.idx", 0), 0);
  EXPECT_EQ(RegistryFile(), before);
}

TEST_F(FlashCycleTest, StatusNeitherOnNorOffEndsTheCycleBeforeAnyMount) {
  ASSERT_TRUE(emu_.Set({"status_byte=0x08"}));
  EXPECT_FALSE(Begin());
  EXPECT_EQ(last_status_, -1);
  EXPECT_TRUE(debug_.Has(" FlashPowerOn Failed"));
  EXPECT_TRUE(LogOf("service: ").empty());
  const std::string before = RegistryFile();
  ASSERT_TRUE(emu_.Set({"status_byte=auto", "power_on=fail"}));
  EXPECT_FALSE(Begin());
  EXPECT_TRUE(debug_.Has("Flash power on failed. "));
  EXPECT_EQ(RegistryFile(), before);  // blanked by the power-on, put back
  EXPECT_TRUE(sleeper_.waits.empty());
}

TEST_F(FlashCycleTest, EndingFindsTheModuleOffOrUnusable) {
  ASSERT_TRUE(Begin());
  ASSERT_TRUE(emu_.Set({"power=off", "log=clear"}));
  EXPECT_TRUE(cycle_.EndFlash());  // found off: no drive removal, no power-off
  EXPECT_TRUE(LogOf("driver: ").empty());
  EXPECT_TRUE(LogOf("firmware: power").empty());
  ASSERT_TRUE(emu_.Set({"power=on", "status_byte=0x30"}));
  EXPECT_FALSE(cycle_.EndFlash());
  EXPECT_TRUE(LogOf("firmware: power").empty());
}

TEST_F(FlashCycleTest, AnUnmountThatCannotBeAskedLeavesDriveAndPower) {
  ASSERT_TRUE(Begin());
  ASSERT_TRUE(emu_.Set({"scm_opens_left=0"}));
  EXPECT_FALSE(cycle_.EndFlash());
  EXPECT_TRUE(debug_.Has("CUtility::NotifyServiceUnMountFlash failed .... "));
  EXPECT_EQ(files_.Access("~:\\quarle.idx", 0), 0);
  EXPECT_EQ(JsonValue(emu_.State(), "power"), "on");
  ASSERT_TRUE(emu_.Set({"scm_opens_left=-1", "power_off=fail"}));
  EXPECT_FALSE(cycle_.EndFlash());  // the drive is gone, the power stays
  EXPECT_EQ(files_.Access("~:\\", 0), 2);
  EXPECT_EQ(JsonValue(emu_.State(), "power"), "on");
}

TEST_F(FlashCycleTest, AnUnlockThatCannotBeAskedUndoesTheMount) {
  ASSERT_TRUE(emu_.Set({"scm_opens_left=1"}));  // the mount's, not the unlock's
  EXPECT_FALSE(Begin());
  EXPECT_TRUE(debug_.Has("CUtility::NotifyServiceUnLockFlash failed"));
  EXPECT_EQ(files_.Access("~:\\", 0), 2);  // the drive was taken away again
  EXPECT_EQ(JsonValue(emu_.State(), "power"), "off");
}

}  // namespace
}  // namespace kvx
