#include "platform/win32/registry_win32.h"

#include <gtest/gtest.h>
#include "platform/win32/windows_api.h"

#include "platform/win32/wide_text.h"

namespace kvx {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { key_ = "Software\\KvxTest" + std::to_string(GetCurrentProcessId()); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, Wide(key_).c_str()); }
  std::string key_;
  Win32Registry registry_;
};

TEST_F(RegistryTest, ADefaultValueIsWrittenAndReadBack) {
  std::string value = "untouched";
  EXPECT_FALSE(registry_.ReadDefaultValue(key_ + "\\Sound", 260, value));
  EXPECT_EQ(value, "untouched");

  const std::string sound = "C:\\Windows\\Media\\Ger\xC3\xA4t verbunden.wav";
  const size_t units = Wide(sound).size();
  ASSERT_TRUE(registry_.WriteDefaultValue(key_ + "\\Sound", sound));
  ASSERT_TRUE(registry_.ReadDefaultValue(key_ + "\\Sound", 260, value));
  EXPECT_EQ(value, sound);

  // The text and its terminator must fit the buffer.
  EXPECT_TRUE(registry_.ReadDefaultValue(key_ + "\\Sound", units + 1, value));
  value = "untouched";
  EXPECT_FALSE(registry_.ReadDefaultValue(key_ + "\\Sound", units, value));
  EXPECT_EQ(value, "untouched");

  ASSERT_TRUE(registry_.WriteDefaultValue(key_ + "\\Sound", ""));
  ASSERT_TRUE(registry_.ReadDefaultValue(key_ + "\\Sound", 260, value));
  EXPECT_EQ(value, "");
}

// Data stored past a NUL is not part of the text.
TEST_F(RegistryTest, TheTextEndsAtItsFirstNul) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, Wide(key_).c_str(), &key), ERROR_SUCCESS);
  const wchar_t data[] = L"ding\0dong";
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
  RegCloseKey(key);
  std::string value;
  ASSERT_TRUE(registry_.ReadDefaultValue(key_, 260, value));
  EXPECT_EQ(value, "ding");
}

}  // namespace
}  // namespace kvx
