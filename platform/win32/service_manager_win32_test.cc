#include "platform/win32/service_manager_win32.h"

#include <gtest/gtest.h>
#include "platform/win32/windows_api.h"

#include <algorithm>
#include <filesystem>

#include "service/service_notify.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace kvx {
namespace {

using namespace kvx::testing;

constexpr int kErrorAccessDenied = 5;
constexpr int kErrorServiceNotActive = 1062;

// The test service, built beside the tests.
std::string TestServiceImage() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (std::filesystem::path(std::wstring(self, n)).parent_path() / "kvx_test_service.exe").string();
}

// Waits for the service to reach `wanted`, polling the manager; false when
// it has not got there after a generous while.
bool WaitFor(Service& service, uint32_t wanted) {
  uint32_t state = 0;
  for (int i = 0; i < 300; ++i) {
    if (service.QueryStatus(state) && state == wanted) return true;
    Sleep(50);
  }
  return false;
}

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "KvxTestService" + std::to_string(GetCurrentProcessId());
    record_ = dir_ / "controls.txt";
    std::replace(record_.begin(), record_.end(), '/', '\\');
  }
  void TearDown() override {
    // Leaves nothing registered, whatever the test reached.
    if (auto scm = manager_.Open(kScManagerAllAccess))
      if (auto s = scm->OpenService(name_, kServiceAllAccess)) {
        s->Control(kServiceControlStop);
        WaitFor(*s, kServiceStopped);
        s->Delete();
      }
  }
  ServiceConfig Config() const {
    ServiceConfig c;
    c.name = name_;
    c.display_name = name_;
    c.type = kServiceWin32OwnProcess;
    c.start_type = kServiceDemandStart;
    c.image_path = "\"" + TestServiceImage() + "\" \"" + record_ + "\"";
    return c;
  }

  Win32ServiceManager manager_;
  TempDir dir_;
  std::string name_;
  std::string record_;
};

TEST_F(ServiceManagerTest, AServiceIsCreatedStartedControlledStoppedAndDeleted) {
  ASSERT_TRUE(std::filesystem::exists(TestServiceImage()));
  std::unique_ptr<ServiceControlManager> scm = manager_.Open(kScManagerAllAccess);
  ASSERT_NE(scm, nullptr);
  EXPECT_EQ(scm->OpenService(name_, kServiceAllAccess), nullptr);

  std::unique_ptr<Service> service = scm->CreateService(Config(), kServiceAllAccess);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(scm->CreateService(Config(), kServiceAllAccess), nullptr);  // it exists

  uint32_t state = 0;
  ASSERT_TRUE(service->QueryStatus(state));
  EXPECT_EQ(state, kServiceStopped);
  EXPECT_FALSE(service->Control(200));
  EXPECT_EQ(service->LastError(), kErrorServiceNotActive);

  ASSERT_TRUE(service->Start()) << service->LastError();
  ASSERT_TRUE(WaitFor(*service, kServiceRunning));
  EXPECT_FALSE(service->Start());
  EXPECT_EQ(service->LastError(), kErrorServiceAlreadyRunning);

  // The handler has answered by the time the control returns.
  ASSERT_TRUE(service->Control(200));
  EXPECT_EQ(ReadFile(record_), "200\n");

  // Opened with the access the notifications ask for, a user control goes
  // through; without it the manager refuses.
  std::unique_ptr<Service> notify =
      scm->OpenService(name_, kServiceQueryStatus | kServiceUserDefinedControl);
  ASSERT_NE(notify, nullptr);
  ASSERT_TRUE(notify->QueryStatus(state));
  EXPECT_EQ(state, kServiceRunning);
  EXPECT_TRUE(notify->Control(135));
  EXPECT_FALSE(notify->Control(kServiceControlStop));
  EXPECT_EQ(notify->LastError(), kErrorAccessDenied);
  EXPECT_EQ(ReadFile(record_), "200\n135\n");

  ASSERT_TRUE(service->Control(kServiceControlStop));
  ASSERT_TRUE(WaitFor(*service, kServiceStopped));
  ASSERT_TRUE(service->Delete());
  // The manager deletes a service once the last handle to it is closed, in
  // its own time: the name goes soon after, not at once.
  notify.reset();
  service.reset();
  bool gone = false;
  for (int i = 0; i < 300 && !gone; ++i) {
    gone = scm->OpenService(name_, kServiceQueryStatus) == nullptr;
    if (!gone) Sleep(50);
  }
  EXPECT_TRUE(gone);
}

TEST_F(ServiceManagerTest, AManagerOpenedToConnectCannotCreate) {
  std::unique_ptr<ServiceControlManager> scm = manager_.Open(kScManagerConnect);
  ASSERT_NE(scm, nullptr);
  EXPECT_EQ(scm->CreateService(Config(), kServiceAllAccess), nullptr);
  EXPECT_EQ(scm->OpenService("KvxNoSuchService", kServiceQueryStatus), nullptr);
}

// The tool's notifications reach a running service through this layer, and
// its handler has the code by the time the sender goes on.
TEST_F(ServiceManagerTest, TheNotificationsReachARunningService) {
  std::unique_ptr<ServiceControlManager> scm = manager_.Open(kScManagerAllAccess);
  ASSERT_NE(scm, nullptr);
  std::unique_ptr<Service> service = scm->CreateService(Config(), kServiceAllAccess);
  ASSERT_NE(service, nullptr);
  ASSERT_TRUE(service->Start()) << service->LastError();
  ASSERT_TRUE(WaitFor(*service, kServiceRunning));

  RecordingDebug debug;
  RecordingConsole console;
  CUserInfoExport notify(manager_, debug, console);
  EXPECT_EQ(notify.NotifyMountFlash(name_), 1);
  EXPECT_EQ(notify.NotifyUnLock(name_), 1);
  EXPECT_EQ(notify.NotifyExport(name_), 1);
  EXPECT_EQ(notify.NotifyUnMount(name_), 1);
  EXPECT_EQ(ReadFile(record_), "134\n136\n133\n135\n");
  EXPECT_TRUE(debug.Has("NotifyExport :: sucess ControlService "));
  EXPECT_EQ(console.text_, "");

  EXPECT_EQ(notify.NotifyExport("KvxNoSuchService"), 1);
  EXPECT_EQ(console.text_, "cannot open service.\n");
}

}  // namespace
}  // namespace kvx
