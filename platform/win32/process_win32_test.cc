#include "platform/win32/process_win32.h"

#include <gtest/gtest.h>
#include <objbase.h>

namespace kvx {
namespace {

TEST(Win32Process, ModuleVersionAndWow64) {
  Win32Process process;
  const std::string module = process.ModuleFileName();
  ASSERT_GT(module.size(), 3u);
  EXPECT_EQ(module[1], ':');
  EXPECT_EQ(module.substr(module.rfind('\\') + 1), "win_unit_tests.exe");

  OsVersion plain, extended;
  ASSERT_TRUE(process.QueryVersion(false, plain));
  ASSERT_TRUE(process.QueryVersion(true, extended));
  EXPECT_EQ(plain.platform_id, 2u);
  EXPECT_GE(plain.major, 6u);
  EXPECT_EQ(extended.major, plain.major);
  EXPECT_EQ(extended.build, plain.build);
  // The tests run in a 64-bit Wine prefix, the 64-bit Windows the tool
  // meets: a 32-bit build runs under WOW64 there, a 64-bit one natively.
  EXPECT_EQ(process.IsWow64(), sizeof(void*) == 4);
}

// An uninitialisation without a successful initialisation would undo the
// COM of another part of the thread.
TEST(Win32Process, ComUninitialisesOnlyWhatItInitialised) {
  Win32Process process;
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);  // another part's
  process.ComUninitialize();                                           // nothing of its own to undo
  process.ComInitialize();
  process.ComUninitialize();
  // The other part's initialisation still holds: a second one only counts.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
}

}  // namespace
}  // namespace kvx
