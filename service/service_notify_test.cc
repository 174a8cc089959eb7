#include "service/service_notify.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/fakes.h"

namespace kvx {
namespace {

using namespace kvx::testing;

// A service control manager whose services the test sets up; it records
// the control codes each service received.
class FakeServices : public ServiceManager {
 public:
  struct State {
    uint32_t state = kServiceRunning;
    bool query_ok = true;
    bool accepts = true;
    std::vector<uint32_t> received;
  };

  std::unique_ptr<ServiceControlManager> Open(uint32_t access) override {
    opened_with.push_back(access);
    if (!scm_on) return nullptr;
    return std::make_unique<Scm>(*this);
  }

  bool scm_on = true;
  std::map<std::string, State> services;
  std::vector<uint32_t> opened_with, service_access;

 private:
  class Handle : public Service {
   public:
    explicit Handle(State& s) : s_(s) {}
    bool QueryStatus(uint32_t& state) override {
      state = s_.state;
      return s_.query_ok;
    }
    bool Control(uint32_t code) override {
      if (!s_.accepts) return false;
      s_.received.push_back(code);
      return true;
    }
    bool Start() override { return false; }
    bool Delete() override { return false; }
    int LastError() override { return 0; }

   private:
    State& s_;
  };
  class Scm : public ServiceControlManager {
   public:
    explicit Scm(FakeServices& owner) : owner_(owner) {}
    std::unique_ptr<Service> OpenService(const std::string& name, uint32_t access) override {
      owner_.service_access.push_back(access);
      auto it = owner_.services.find(name);
      if (it == owner_.services.end()) return nullptr;
      return std::make_unique<Handle>(it->second);
    }
    std::unique_ptr<Service> CreateService(const ServiceConfig&, uint32_t) override { return nullptr; }
    int LastError() override { return 0; }

   private:
    FakeServices& owner_;
  };
};

class NotifyTest : public ::testing::Test {
 protected:
  FakeServices services;
  RecordingDebug debug;
  RecordingConsole console;
  CUserInfoExport sender{services, debug, console};
};

TEST_F(NotifyTest, ARunningServiceGetsTheCode) {
  services.services["KvxMDES"];
  EXPECT_EQ(sender.NotifyExport("KvxMDES"), 1);
  EXPECT_EQ(sender.NotifyUnLock("KvxMDES"), 1);
  EXPECT_EQ(sender.NotifyUnMount("KvxMDES"), 1);
  EXPECT_EQ(services.services["KvxMDES"].received, (std::vector<uint32_t>{133, 136, 135}));
  EXPECT_EQ(services.opened_with, (std::vector<uint32_t>{kScManagerConnect, kScManagerConnect,
                                                         kScManagerConnect}));
  EXPECT_EQ(services.service_access.front(), 0x104u);
  EXPECT_EQ(std::vector<std::string>(debug.lines.begin(), debug.lines.begin() + 3),
            (std::vector<std::string>{"Begin notify service to export",
                                      "NotifyExport :: sucess ControlService ",
                                      "Notify service to export successfully"}));
  EXPECT_EQ(console.text_, "");
}

TEST_F(NotifyTest, NoManagerMeansZeroAndOnlyTheBeginLine) {
  services.scm_on = false;
  EXPECT_EQ(sender.NotifyMountFlash("KvxMDES"), 0);
  EXPECT_EQ(debug.lines, (std::vector<std::string>{"Begin notify service of mounting flash"}));
}

TEST_F(NotifyTest, AServiceThatIsNotInstalledIsReportedOnTheConsole) {
  EXPECT_EQ(sender.NotifyUnMount("KvxMDES"), 1);
  EXPECT_EQ(console.text_, "cannot open service.\n");
  EXPECT_EQ(debug.lines, (std::vector<std::string>{"Begin notify service to UnMount",
                                                   "NotifyUnMount :: cannot open service.",
                                                   "Notify service to UnMount successfully"}));
}

TEST_F(NotifyTest, AServiceThatDoesNotRunGetsNothing) {
  for (uint32_t state : {kServicePaused, kServiceStopped, kServiceStartPending, kServiceStopPending}) {
    services.services["KvxMDES"].state = state;
    EXPECT_EQ(sender.NotifyExport("KvxMDES"), 1);
  }
  EXPECT_TRUE(services.services["KvxMDES"].received.empty());
  EXPECT_FALSE(debug.Has("NotifyExport :: sucess ControlService "));
  services.services["KvxMDES"].state = kServiceRunning;
  services.services["KvxMDES"].query_ok = false;
  EXPECT_EQ(sender.NotifyUnLock("KvxMDES"), 1);
  EXPECT_TRUE(debug.Has("NotifyUnLock :: query service failed."));
  EXPECT_TRUE(services.services["KvxMDES"].received.empty());
}

TEST_F(NotifyTest, TheMountSenderSaysMoreAndSaysItEvenWhenRefused) {
  services.services["KvxMDES"].accepts = false;
  EXPECT_EQ(sender.NotifyMountFlash("KvxMDES"), 1);
  EXPECT_EQ(debug.lines, (std::vector<std::string>{
                             "Begin notify service of mounting flash",
                             "CUserInfoExport::NotifyMountFlash  success OpenSCManager",
                             "CUserInfoExport::NotifyMountFlash  success OpenService",
                             "CUserInfoExport::NotifyMountFlash  success ControlService",
                             "Notify service of mounting flash Successful"}));
  debug.lines.clear();
  services.services["KvxMDES"].accepts = true;
  EXPECT_EQ(sender.NotifyMountFlash("KvxMDES"), 1);
  EXPECT_TRUE(debug.Has("NotifyMountFlash:: sucess ControlService "));
  EXPECT_EQ(services.services["KvxMDES"].received, (std::vector<uint32_t>{134}));
}

}  // namespace
}  // namespace kvx
