// The hardware access library against the emulated machine's driver and
// service control manager.
#include <algorithm>

#include "hwio/calling_interface.h"
#include "tests/emulated_hardware.h"

namespace kvx {
namespace {

using testing::EmulatedHardware;
using testing::JsonValue;

class WinIoEmulatorTest : public EmulatedHardware {};

TEST_F(WinIoEmulatorTest, ARunningDriverIsOpenedWithoutTouchingAService) {
  ASSERT_TRUE(io_.InitializeWinIo());
  EXPECT_EQ(JsonValue(emu_.State(), "scm_opens"), "0");
  uint32_t v = 0;
  EXPECT_TRUE(io_.SetPortVal(0x300, 0x12345678, 4));
  EXPECT_TRUE(io_.GetPortVal(0x301, &v, 1));
  EXPECT_EQ(v, 0x56u);
  EXPECT_TRUE(io_.GetPortVal(0x300, &v, 2));
  EXPECT_EQ(v, 0x5678u);
  v = 7;
  EXPECT_TRUE(io_.GetPortVal(0x300, &v, 3));  // no request of that width
  sCPU_REGS regs{};
  EXPECT_TRUE(io_.SetPortValEx(0x70, 0xBEEF, &regs));
  EXPECT_EQ(regs.regs[0], 0xBEEFu);
  io_.ShutdownWinIo();
  EXPECT_FALSE(io_.GetPortVal(0x300, &v, 1));
}

TEST_F(WinIoEmulatorTest, PhysicalMemoryIsARealViewBelowFourGiB) {
  ASSERT_TRUE(io_.InitializeWinIo());
  uint32_t section = 0;
  uint8_t* entry = io_.MapPhysToLin(0xF0010, 8, &section);  // 16 bytes past the page start
  ASSERT_NE(entry, nullptr);
  EXPECT_LT(reinterpret_cast<uintptr_t>(entry), uintptr_t{1} << 32);
  uint8_t* page = io_.MapPhysToLin(0xF0000, 16, nullptr);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(page), 5), "_SM3_");
  EXPECT_EQ(entry[0], page[16]);  // the byte that was asked for
  EXPECT_TRUE(io_.UnmapPhysicalMemory(section, entry));
  EXPECT_FALSE(io_.UnmapPhysicalMemory(section, entry));  // already undone
  EXPECT_TRUE(io_.SetPhysLong(0x3FFFFC, 0xCAFEF00D));     // the last long
  uint32_t v = 0;
  EXPECT_TRUE(io_.GetPhysLong(0x3FFFFC, &v));
  EXPECT_EQ(v, 0xCAFEF00Du);
  EXPECT_FALSE(io_.GetPhysLong(0x400000, &v));  // beyond the memory
  EXPECT_EQ(io_.MapPhysToLin(0xFFFFF000u, 0x2000, &section), nullptr);
}

TEST_F(WinIoEmulatorTest, AStoppedDriverIsRegisteredAgainAndStarted) {
  ASSERT_TRUE(emu_.Set({"driver=stopped"}));
  ASSERT_TRUE(io_.InitializeWinIo());
  const std::vector<std::string> scm = LogOf("scm: ");
  EXPECT_EQ(scm, (std::vector<std::string>{"scm: deleted KVXIO", "scm: created KVXIO (C:\\tools\\kvxio.sys)",
                                           "scm: started KVXIO"}));
  const std::string state = emu_.State();
  EXPECT_NE(state.find("\"KVXIO\": {\"state\": \"running\", \"type\": 1, \"start_type\": 1"), std::string::npos);
}

TEST_F(WinIoEmulatorTest, WithoutItsFileOrItsManagerTheDriverCannotBeHad) {
  ASSERT_TRUE(emu_.Set({"driver=absent", "driver_file=missing"}));
  EXPECT_FALSE(io_.InitializeWinIo());
  EXPECT_FALSE(io_.initialised());
  EXPECT_NE(emu_.State().find("\"KVXIO\": {\"state\": \"stopped\""), std::string::npos);  // left registered
  ASSERT_TRUE(emu_.Set({"driver=stopped", "driver_file=present", "scm=off"}));
  EXPECT_FALSE(io_.InitializeWinIo());
  io_.ShutdownWinIo();  // after a failed open: nothing to close
  EXPECT_FALSE(io_.initialised());
}

TEST_F(WinIoEmulatorTest, TheLegacyBranchUsesItsOwnDeviceAndPortRequests) {
  process_.platform_id = 1;
  ASSERT_TRUE(io_.InitializeWinIo());
  EXPECT_FALSE(io_.nt_platform());
  EXPECT_TRUE(io_.SetPortVal(0x80, 0xAB, 1));
  uint32_t v = 0;
  EXPECT_TRUE(io_.GetPortVal(0x80, &v, 1));
  EXPECT_EQ(v, 0xABu);
  EXPECT_FALSE(io_.GetPortVal(0x80, &v, 3));  // the legacy driver refuses other widths
  EXPECT_EQ(io_.MapPhysToLin(0xF0000, 16, nullptr), nullptr);  // no virtual machine manager here
  EXPECT_TRUE(io_.UnmapPhysicalMemory(1, nullptr));
}

TEST_F(WinIoEmulatorTest, DosDeviceNamesComeAndGoInTheDriveMap) {
  ASSERT_TRUE(io_.InitializeWinIo());
  EXPECT_TRUE(io_.CreateDosDevice("\\Device\\Nothing", "Q"));
  EXPECT_EQ(files_.Access("Q:\\", 0), 2);  // the drive names a device that does not answer
  EXPECT_NE(JsonValue(emu_.State(), "q"), "");
  EXPECT_TRUE(io_.DeleteDosDevice("Q"));
  EXPECT_TRUE(io_.DeleteDosDevice("Q"));  // no longer defined: still true
  EXPECT_EQ(LogOf("driver: "), (std::vector<std::string>{"driver: drive Q -> \\Device\\Nothing",
                                                        "driver: removed drive Q"}));
  EXPECT_FALSE(io_.CreateDosDevice(std::string(256, 'x'), "~"));  // refused, never cut
}

TEST_F(WinIoEmulatorTest, TheCallingInterfaceAnswersOnlyOnItsPortAndCode) {
  smbios_.InitSMBIOS();
  ASSERT_TRUE(io_.InitializeWinIo());
  CallingInterfaceRequest request{};
  request.stCmdBuf.cbClass = 17;
  request.stCmdBuf.cbSelect = 13;
  ASSERT_TRUE(CallInterface(io_, smbios_, debug_, request));
  EXPECT_EQ(+request.port, 0xB2);
  EXPECT_EQ(+request.stCmdBuf.u32Res[1], 0x18u);  // off
  request.stCmdBuf.cbClass = 4;                   // a class the firmware does not have
  ASSERT_TRUE(CallInterface(io_, smbios_, debug_, request));
  EXPECT_EQ(static_cast<int32_t>(request.stCmdBuf.u32Res[0]), -2);
  // Another port than the table's is refused by the firmware.
  Device* device = io_.device();
  request.port = 0xB3;
  sCMD_BUF reply{};
  uint32_t returned = 0;
  EXPECT_FALSE(device->Control(kIoctlCallingInterface, &request, sizeof request, &reply, sizeof reply, returned));
  EXPECT_EQ(devices_.LastError(), 31);
  // A request the driver does not know is reported in the system's words.
  EXPECT_FALSE(device->Control(0x80102FFC, &request, sizeof request, &reply, sizeof reply, returned));
  debug_.lines.clear();
  io_.ReportFailure();
  EXPECT_TRUE(debug_.Has("lpszFunction failed with error 1: Incorrect function."));
  io_.ShutdownWinIo();
  debug_.lines.clear();
  EXPECT_FALSE(CallInterface(io_, smbios_, debug_, request));  // closed
  EXPECT_TRUE(debug_.Has("lpszFunction failed with error 6: The handle is invalid."));
}

TEST_F(WinIoEmulatorTest, AViewStaysValidUntilItIsUnmapped) {
  ASSERT_TRUE(io_.InitializeWinIo());
  uint32_t section = 0;
  uint8_t* view = io_.MapPhysToLin(0x2000, 16, &section);
  ASSERT_NE(view, nullptr);
  view[0] = 0x5A;
  // Opening the library again, and shutting it, keep the view.
  ASSERT_TRUE(io_.InitializeWinIo());
  EXPECT_EQ(view[0], 0x5A);
  io_.ShutdownWinIo();
  view[1] = 0xA5;
  EXPECT_FALSE(io_.UnmapPhysicalMemory(section, view));  // the library is closed
  ASSERT_TRUE(io_.InitializeWinIo());
  uint32_t v = 0;
  ASSERT_TRUE(io_.GetPhysLong(0x2000, &v));
  EXPECT_EQ(v & 0xFFFF, 0xA55Au);
  // The address names the view as well as the handle: a wrong one unmaps
  // nothing, and the view stays usable.
  EXPECT_FALSE(io_.UnmapPhysicalMemory(section, view + 4096));
  EXPECT_EQ(devices_.LastError(), 87);
  EXPECT_FALSE(io_.UnmapPhysicalMemory(section, nullptr));
  uint32_t other = 0;
  uint8_t* second = io_.MapPhysToLin(0x3000, 16, &other);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(io_.UnmapPhysicalMemory(section, second));  // another section's view
  EXPECT_EQ(view[0], 0x5A);
  EXPECT_TRUE(io_.UnmapPhysicalMemory(section, view + 15));  // any byte of the view
  EXPECT_TRUE(io_.UnmapPhysicalMemory(other, second));
  EXPECT_FALSE(io_.UnmapPhysicalMemory(section, view));  // already undone
  io_.ShutdownWinIo();
}

}  // namespace
}  // namespace kvx
