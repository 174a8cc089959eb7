// CUtility's exchanges with the emulated companion service: the mount
// mapping, and the user list under its mutex.
#include <chrono>
#include <cstring>

#include "core/utf.h"
#include "tests/emulated_hardware.h"

namespace kvx {
namespace {

using testing::EmulatedHardware;
using testing::TempDir;
using testing::WriteManyAccountsVolume;


class UtilityTest : public EmulatedHardware {
 protected:
  explicit UtilityTest(const std::string& volume = KVX_SOURCE_DIR "/examples/volume")
      : EmulatedHardware(volume) {}
  void Mount() {
    ASSERT_TRUE(module_.PowerOn());
    ASSERT_EQ(utility_.NotifyServiceMountFlash(), 0);
    state_.flash_root = "~:";
  }
  // The user mapping as the service sees it.
  std::string UserMapping() {
    auto mapping = objects_.OpenFileMapping("Global\\KVXFileMappingUser");
    auto view = mapping ? mapping->MapView(4096) : nullptr;
    return view ? std::string(reinterpret_cast<char*>(view->data()), 4096) : std::string();
  }
  static std::string Slot(const std::string& mapping, int k) {
    return Utf16FieldText(std::string_view(mapping).substr(20 + 100 * k, 100));
  }
};

TEST_F(UtilityTest, TheUserListIsWrittenForTheServiceAndExported) {
  Mount();
  ASSERT_TRUE(utility_.NotifyServiceUsersName("kvxaccount.ini"));
  const std::string m = UserMapping();
  ASSERT_EQ(m.size(), 4096u);
  EXPECT_EQ(m.substr(0, 10), std::string("3") + std::string(9, '\0'));
  EXPECT_EQ(m.substr(10, 10), std::string(10, '\0'));
  EXPECT_EQ(Slot(m, 0) + "," + Slot(m, 1) + "," + Slot(m, 2), "john,mary,User");
  EXPECT_EQ(m.substr(320), std::string(4096 - 320, '\0'));
  EXPECT_TRUE(debug_.Has("The Account Number is 3"));
  EXPECT_TRUE(debug_.Has("End NotifyServiceUsersName"));
  // The mutex was created for the call and given up with it.
  EXPECT_EQ(objects_.OpenMutex("KVXShareMemUserMutex"), nullptr);
  EXPECT_EQ(utility_.NotifyServiceExport(), 1);
  EXPECT_EQ(LogOf("service: export"), (std::vector<std::string>{"service: export: 3 accounts [john, mary, User]"}));
}

TEST_F(UtilityTest, AnAccountWithoutTheFileCountsButIsNotNamed) {
  Mount();
  ASSERT_TRUE(utility_.NotifyServiceUsersName("other.ini"));  // no account holds it
  const std::string m = UserMapping();
  EXPECT_EQ(m[0], '0');
  EXPECT_EQ(m.substr(1), std::string(4095, '\0'));
}

TEST_F(UtilityTest, AUserListHeldByTheServiceIsWaitedForThreeSeconds) {
  Mount();
  ASSERT_TRUE(emu_.Set({"user_mutex_hold_ms=4000"}));
  ASSERT_EQ(utility_.NotifyServiceUnLockFlash(), 1);  // the service takes the list
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(utility_.NotifyServiceUsersName("kvxaccount.ini"));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(2900));
  EXPECT_EQ(UserMapping().substr(0, 10), std::string(10, '\0'));  // nothing written
  EXPECT_FALSE(debug_.Has("End NotifyServiceUsersName"));
}

TEST_F(UtilityTest, WithoutTheServicesMappingsNothingIsMountedOrWritten) {
  ASSERT_TRUE(module_.PowerOn());
  ASSERT_TRUE(emu_.Set({"mappings=missing"}));
  EXPECT_EQ(utility_.NotifyServiceMountFlash(), -1);
  EXPECT_TRUE(debug_.Has("hMapFile is NULL"));
  EXPECT_FALSE(utility_.NotifyServiceUsersName("kvxaccount.ini"));
  ASSERT_TRUE(emu_.Set({"mappings=present", "mount_empty=on"}));
  EXPECT_EQ(utility_.NotifyServiceMountFlash(), -1);
  EXPECT_TRUE(debug_.Has("The device Name is NULL , NotifyServiceMountFlash return false"));
  ASSERT_TRUE(emu_.Set({"mount_empty=off", "mounts_not_answering=1"}));
  EXPECT_EQ(utility_.NotifyServiceMountFlash(), -2);
  EXPECT_TRUE(sleeper_.waits.empty());
}

TEST_F(UtilityTest, AServiceThatIsNotRunningGetsNoCode) {
  ASSERT_TRUE(emu_.Set({"service=paused"}));
  EXPECT_EQ(utility_.NotifyServiceExport(), 1);
  EXPECT_TRUE(LogOf("service: ").empty());
  ASSERT_TRUE(emu_.Set({"service=absent"}));
  EXPECT_EQ(utility_.NotifyServiceExport(), 1);
  EXPECT_EQ(console_.text_, "cannot open service.\n");
  ASSERT_TRUE(emu_.Set({"scm=off"}));
  EXPECT_EQ(utility_.NotifyServiceExport(), 0);
}

TEST_F(UtilityTest, AHandlerThatRefusesTheMountStillReportsTheControlCall) {
  ASSERT_TRUE(module_.PowerOn());
  ASSERT_TRUE(emu_.Set({"refuse=134"}));
  EXPECT_EQ(utility_.NotifyServiceMountFlash(), -1);
  EXPECT_TRUE(debug_.Has("CUserInfoExport::NotifyMountFlash  success ControlService"));
  EXPECT_FALSE(debug_.Has("NotifyMountFlash:: sucess ControlService "));
}

class ManyAccountsTest : public UtilityTest {
 protected:
  ManyAccountsTest() : UtilityTest(WriteManyAccountsVolume(dir_ / "volume", 45)) {}
  static TempDir dir_;
};
TempDir ManyAccountsTest::dir_;

TEST_F(ManyAccountsTest, FortyNamesFitAndTheCountSaysHowMany) {
  Mount();
  ASSERT_TRUE(utility_.NotifyServiceUsersName("kvxaccount.ini"));
  const std::string m = UserMapping();
  EXPECT_EQ(m.substr(0, 3), std::string("45\0", 3));
  EXPECT_EQ(Slot(m, 0), "a00");
  EXPECT_EQ(Slot(m, 39), "a39");
  EXPECT_EQ(m.substr(4020), std::string(76, '\0'));
  ASSERT_EQ(utility_.NotifyServiceExport(), 1);
  const auto exported = LogOf("service: export");
  ASSERT_EQ(exported.size(), 1u);
  EXPECT_NE(exported[0].find("45 accounts [a00, a01"), std::string::npos);
  EXPECT_NE(exported[0].find("a39]"), std::string::npos);
}

}  // namespace
}  // namespace kvx
