#include "hwio/winio.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hwio/calling_interface.h"
#include "tests/fakes.h"
#include "tests/hwio_fakes.h"

// The records are packed: their fields are read as values (a leading "+"),
// never bound to references, which could be misaligned.

namespace kvx {
namespace {

using namespace kvx::testing;

class WinIoTest : public HardwareFixture {};

TEST_F(WinIoTest, ARunningDriverIsUsedAsItIs) {
  ASSERT_TRUE(io.InitializeWinIo());
  EXPECT_TRUE(io.initialised());
  EXPECT_TRUE(io.nt_platform());
  EXPECT_EQ(devices.opened, (std::vector<std::string>{"\\\\.\\KVXIO"}));
  EXPECT_TRUE(scm.log.empty());
  io.ShutdownWinIo();
  EXPECT_FALSE(io.initialised());
  uint32_t v = 0;
  EXPECT_FALSE(io.GetPortVal(0x70, &v, 1));  // closed
}

TEST_F(WinIoTest, AMissingDriverIsInstalledWithSystemStartAndStarted) {
  devices.answering = false;
  EXPECT_FALSE(io.InitializeWinIo());  // still not answering after the start
  EXPECT_EQ(scm.created.start_type, kServiceSystemStart);
  EXPECT_EQ(scm.created.type, kServiceKernelDriver);
  EXPECT_EQ(scm.created.image_path, "C:\\tools\\kvxio.sys");
  EXPECT_EQ(scm.log, (std::vector<std::string>{"create C:\\tools\\kvxio.sys", "start"}));
  EXPECT_EQ(devices.opened.size(), 2u);
  // The 64-bit driver is chosen when its file is there.
  process.wow64 = true;
  files.files["C:\\tools\\kvxio_x64.sys"] = "driver";
  EXPECT_TRUE(io.BuildIoDriverPath());
  EXPECT_EQ(io.driver_path(), "C:\\tools\\kvxio_x64.sys");
  EXPECT_FALSE(io.InitializeWinIo());
  EXPECT_EQ(std::vector<std::string>(scm.log.end() - 3, scm.log.end()),
            (std::vector<std::string>{"delete", "create C:\\tools\\kvxio_x64.sys", "start"}));
}

// A deleted service that another program still holds open refuses a new
// one of its name until that program lets go: the install waits for it a
// few seconds, then gives up saying why.
TEST_F(WinIoTest, AServiceStillMarkedForDeletionIsWaitedForThenGivenUp) {
  scm.marked_for_deletion = 3;
  EXPECT_TRUE(io.InstallWinIoDriver("C:\\x.sys", false));
  EXPECT_EQ(sleeper.waits, (std::vector<uint32_t>{500, 500, 500}));
  EXPECT_TRUE(scm.registered);

  scm.registered = false;
  sleeper.waits.clear();
  scm.marked_for_deletion = 100;
  EXPECT_FALSE(io.InstallWinIoDriver("C:\\x.sys", false));
  EXPECT_EQ(sleeper.waits, std::vector<uint32_t>(9, 500));
  EXPECT_FALSE(scm.registered);
  EXPECT_TRUE(debug.Has("InstallWinIoDriver: the service KVXIO is still marked for deletion after 4500 ms "
                        "(error 1072): another program holds it open; close it and run again"));
}

TEST_F(WinIoTest, PortsByWidth) {
  ASSERT_TRUE(io.InitializeWinIo());
  EXPECT_TRUE(io.SetPortVal(0x70, 0x1234, 2));
  uint32_t v = 0;
  EXPECT_TRUE(io.GetPortVal(0x70, &v, 2));
  EXPECT_EQ(v, 0x1234u);
  EXPECT_EQ(devices.driver.requests[0].code, kIoctlWritePort16);
  EXPECT_EQ(devices.driver.requests[0].in_size, 6u);
  EXPECT_EQ(devices.driver.requests[1].code, kIoctlReadPort16);
  EXPECT_EQ(console.text_, "SetPortVal in");
  // Another width sends nothing and still answers true.
  EXPECT_TRUE(io.GetPortVal(0x70, &v, 3));
  EXPECT_TRUE(io.SetPortVal(0x70, 1, 8));
  EXPECT_EQ(devices.driver.requests.size(), 2u);
  // A failed request still answers true on this platform.
  devices.driver.fail = true;
  EXPECT_TRUE(io.GetPortVal(0x70, &v, 4));
  EXPECT_EQ(v, 0u);
}

TEST_F(WinIoTest, PortWriteWithRegisters) {
  ASSERT_TRUE(io.InitializeWinIo());
  sCPU_REGS regs{};
  EXPECT_TRUE(io.SetPortValEx(0xB2, 0x0D, &regs));
  EXPECT_EQ(+regs.regs[3], 4u);
  devices.driver.short_reply = true;
  EXPECT_TRUE(io.SetPortValEx(0xB2, 0x0D, &regs));
  EXPECT_TRUE(debug.Has("l != sizeof(sCPU_REGS)"));
  devices.driver.fail = true;
  EXPECT_FALSE(io.SetPortValEx(0xB2, 0x0D, &regs));
  EXPECT_TRUE(debug.Has("lpszFunction failed with error 31: A device attached to the system is not functioning."));
}

TEST_F(WinIoTest, PhysicalMemoryThroughAnAlignedMapping) {
  ASSERT_TRUE(io.InitializeWinIo());
  ASSERT_TRUE(io.SetPhysLong(0x1234, 0xCAFEF00D));
  uint32_t value = 0;
  ASSERT_TRUE(io.GetPhysLong(0x1234, &value));
  EXPECT_EQ(value, 0xCAFEF00Du);
  uint32_t at;
  std::memcpy(&at, devices.driver.memory + 0x1234, 4);
  EXPECT_EQ(at, 0xCAFEF00Du);
  uint32_t section = 0;
  uint8_t* p = io.MapPhysToLin(0x2010, 16, &section);
  EXPECT_EQ(p, devices.driver.memory + 0x2010);
  EXPECT_EQ(section, 77u);
  EXPECT_TRUE(io.UnmapPhysicalMemory(section, p));
  devices.driver.fail = true;
  EXPECT_EQ(io.MapPhysToLin(0x10, 4, &section), nullptr);
  EXPECT_FALSE(io.GetPhysLong(0x10, &value));
}

TEST_F(WinIoTest, DosDeviceNamesThatDoNotFitAreRefused) {
  ASSERT_TRUE(io.InitializeWinIo());
  EXPECT_TRUE(io.CreateDosDevice("\\Device\\KvxFlash0", "~"));
  EXPECT_STREQ(devices.driver.dos.target, "\\Device\\KvxFlash0");
  EXPECT_STREQ(devices.driver.dos.name, "~");
  EXPECT_EQ(devices.driver.requests.back().in_size, 264u);
  const size_t sent = devices.driver.requests.size();
  EXPECT_FALSE(io.CreateDosDevice(std::string(256, 't'), "~"));
  EXPECT_FALSE(io.CreateDosDevice("\\Device\\X", "ABCDEFGH"));
  EXPECT_FALSE(io.DeleteDosDevice("ABCDEFGH"));
  EXPECT_EQ(devices.driver.requests.size(), sent);
  EXPECT_TRUE(io.CreateDosDevice(std::string(255, 't'), "ABCDEFG"));
  EXPECT_TRUE(io.DeleteDosDevice("~"));
  EXPECT_EQ(devices.driver.requests.back().code, kIoctlRemoveDosDevice);
}

TEST_F(WinIoTest, TheLegacyPlatformUsesItsOwnRequests) {
  process.platform_id = 1;
  ASSERT_TRUE(io.InitializeWinIo());
  EXPECT_FALSE(io.nt_platform());
  EXPECT_EQ(devices.opened.back(), "legacy \\\\.\\KVXIO.VXD");
  uint32_t v = 0;
  EXPECT_TRUE(io.GetPortVal(0x60, &v, 1));
  EXPECT_EQ(v, 0xABCDu);
  EXPECT_EQ(devices.driver.requests.back().code, kIoctlLegacyReadPort);
  EXPECT_EQ(devices.driver.requests.back().in_size, 7u);
  EXPECT_TRUE(io.SetPortVal(0x60, 1, 1));
  EXPECT_EQ(devices.driver.requests.back().code, kIoctlLegacyWritePort);
  legacy.result = 0x8000;
  EXPECT_EQ(io.MapPhysToLin(0xF0000, 16, nullptr), reinterpret_cast<uint8_t*>(0x8000));
  ASSERT_EQ(legacy.calls.size(), 1u);
  EXPECT_EQ(legacy.calls[0].service, 0x002A0029u);
  EXPECT_EQ(legacy.calls[0].function, 0x0800u);
  EXPECT_EQ(legacy.calls[0].a, 0xF0000u);
  EXPECT_TRUE(io.UnmapPhysicalMemory(0, nullptr));  // nothing to unmap there
  devices.driver.fail = true;
  EXPECT_FALSE(io.GetPortVal(0x60, &v, 1));
}

TEST_F(WinIoTest, RemovingStopsAndDeletesTheService) {
  scm.registered = scm.running = true;
  EXPECT_TRUE(io.RemoveWinIoDriver());
  EXPECT_EQ(scm.log, (std::vector<std::string>{"control 1", "delete"}));
  EXPECT_FALSE(io.RemoveWinIoDriver());  // nothing left to delete
  scm.on = false;
  EXPECT_FALSE(io.InstallWinIoDriver("C:\\x.sys", true));
}

}  // namespace
}  // namespace kvx

namespace kvx {
namespace {

class StaticSource : public SmbiosSource {
 public:
  bool Fetch(RawSmbios& out, std::string&) override {
    out.table = table;
    return true;
  }
  std::vector<uint8_t> table;
};

class CallInterfaceTest : public WinIoTest {
 protected:
  CallInterfaceTest() {
    // One calling-interface structure: port 0xB2, code 0x0D, no tokens.
    source.table = {218, 17, 0x00, 0xDA, 0xB2, 0x00, 0x0D, 0, 0, 0, 0,
                    0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
  }
  StaticSource source;
  SMBiosService smbios{debug, source};
};

TEST_F(CallInterfaceTest, TheRequestCarriesTheTablesPortAndCode) {
  smbios.InitSMBIOS();
  ASSERT_TRUE(io.InitializeWinIo());
  CallingInterfaceRequest request{};
  request.stCmdBuf.cbClass = 17;
  request.stCmdBuf.cbSelect = 13;
  ASSERT_TRUE(CallInterface(io, smbios, debug, request));
  EXPECT_EQ(+devices.driver.last_call.port, 0xB2);
  EXPECT_EQ(+devices.driver.last_call.code, 13);
  EXPECT_EQ(devices.driver.requests.back().in_size, 175u);
  EXPECT_EQ(devices.driver.requests.back().out_size, 36u);
  EXPECT_EQ(+request.stCmdBuf.u32Res[1], 0x38u);
  EXPECT_TRUE(debug.Has("GetAddrPort: addr/code 0xb2/0xd"));
}

TEST_F(CallInterfaceTest, AShortReplyIsCopiedWithZerosAfterIt) {
  smbios.InitSMBIOS();
  ASSERT_TRUE(io.InitializeWinIo());
  devices.driver.reply_size = 20;
  CallingInterfaceRequest request{};
  request.stCmdBuf.u32Res[1] = 0x99;
  ASSERT_TRUE(CallInterface(io, smbios, debug, request));
  EXPECT_TRUE(debug.Has("l != sizeof(sCMD_BUF"));
  EXPECT_EQ(+request.stCmdBuf.u32Res[1], 0u);  // beyond the 20 bytes: the cleared reply
}

TEST_F(CallInterfaceTest, NoTableOrNoDriverFails) {
  CallingInterfaceRequest request{};
  request.stCmdBuf.u32Res[0] = 5;
  EXPECT_FALSE(CallInterface(io, smbios, debug, request));  // no InitSMBIOS
  EXPECT_TRUE(debug.Has("GetAddrPort return False"));
  EXPECT_EQ(+request.port, 0);
  smbios.InitSMBIOS();
  // The library is closed: the request fails as one on a handle that is
  // not open, whatever the device layer's last error was.
  EXPECT_FALSE(CallInterface(io, smbios, debug, request));
  EXPECT_TRUE(debug.Has("lpszFunction failed with error 6: The handle is invalid."));
  EXPECT_EQ(+request.stCmdBuf.u32Res[0], 5u);
}

}  // namespace
}  // namespace kvx
