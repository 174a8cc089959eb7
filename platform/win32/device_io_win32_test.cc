#include "platform/win32/device_io_win32.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include "hwio/winio.h"

namespace kvx {
namespace {

constexpr int kErrorFileNotFound = 2;
constexpr int kErrorInvalidHandle = 6;
constexpr uint32_t kCallInterfaceRequest = 0x80102068;

TEST(DeviceIoTest, WithNoDriverTheDeviceDoesNotOpen) {
  Win32DeviceIo io;
  EXPECT_EQ(io.Open(kDriverDevice), nullptr);
  EXPECT_EQ(io.LastError(), kErrorFileNotFound);
  const std::string message = io.ErrorMessage(kErrorFileNotFound);
  EXPECT_FALSE(message.empty());
  EXPECT_NE(message.back(), '\n');
  EXPECT_EQ(io.OpenLegacy(kLegacyDriverDevice), nullptr);
}

TEST(DeviceIoTest, ARequestOnAClosedHandleFailsAndSaysWhy) {
  Win32DeviceIo io;
  HANDLE h = CreateFileA("NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(h));
  std::unique_ptr<Device> device = io.Adopt(h);
  uint8_t in[175] = {}, out[36] = {1};
  uint32_t returned = 99;
  EXPECT_FALSE(device->Control(kCallInterfaceRequest, in, sizeof in, out, sizeof out, returned));
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(io.LastError(), kErrorInvalidHandle);
  EXPECT_EQ(out[0], 1);
}

// The legacy entry is looked up in kernel32's image as loaded.
TEST(LegacyPlatformTest, Kernel32IsTheLoadedImageWithItsSize) {
  Win32LegacyPlatform legacy;
  size_t size = 0;
  const uint8_t* base = legacy.Kernel32(size);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base, reinterpret_cast<const uint8_t*>(GetModuleHandleA("kernel32.dll")));
  MODULEINFO info = {};
  ASSERT_TRUE(K32GetModuleInformation(GetCurrentProcess(), GetModuleHandleA("kernel32.dll"), &info,
                                      sizeof info));
  EXPECT_EQ(size, info.SizeOfImage);
  EXPECT_EQ(legacy.CallVmm(nullptr, 0x002A0029, 0x0800, 0xF0000, 0x1000), 0u);
}

}  // namespace
}  // namespace kvx
