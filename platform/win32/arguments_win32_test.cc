#include "platform/win32/arguments_win32.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

TEST(Utf8Arguments, ConvertsEveryArgumentWholeFromUtf16) {
  // Program name, a Latin-1 letter, a CJK name, a character outside the
  // basic plane (a surrogate pair) and an empty argument.
  const wchar_t* argv[] = {L"C:\\t\\QZRRemote.exe", L"r\u00e9sum\u00e9.xml", L"\u8a2d\u5b9a.xml",
                           L"a\U0001F600b", L""};
  const std::vector<std::string> args = Utf8Arguments(5, argv);
  ASSERT_EQ(args.size(), 5u);
  EXPECT_EQ(args[0], "C:\\t\\QZRRemote.exe");
  EXPECT_EQ(args[1], "r\xC3\xA9sum\xC3\xA9.xml");
  EXPECT_EQ(args[2], "\xE8\xA8\xAD\xE5\xAE\x9A.xml");
  EXPECT_EQ(args[3], "a\xF0\x9F\x98\x80" "b");
  EXPECT_EQ(args[4], "");
}

TEST(Utf8Arguments, UnpairedSurrogateBecomesReplacementCharacter) {
  const wchar_t lone[] = {L'x', static_cast<wchar_t>(0xD800), L'.', L'x', L'm', L'l', 0};
  const wchar_t* argv[] = {L"tool", lone};
  const std::vector<std::string> args = Utf8Arguments(2, argv);
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[1], "x\xEF\xBF\xBD.xml");
}

TEST(Utf8Arguments, StopsAtTheVectorsEndOrItsNullEntry) {
  const wchar_t* argv[] = {L"tool", nullptr, L"never"};
  EXPECT_EQ(Utf8Arguments(3, argv).size(), 1u);
  EXPECT_TRUE(Utf8Arguments(0, argv).empty());
}

}  // namespace
}  // namespace kvx
