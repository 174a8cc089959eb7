#include "core/utf.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

TEST(Utf, RoundTripsEveryPlane) {
  const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // a é 中 😀
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0xE9, 0x4E2D, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf16Length(text), 5u);
}

TEST(Utf, IllFormedUtf8BecomesReplacementCharacters) {
  // A lone continuation byte, a truncated three-byte sequence followed by
  // ASCII, an invalid lead, an encoded surrogate, a code point beyond
  // U+10FFFF, an overlong three-byte form and a truncated four-byte one:
  // as the Windows conversion (through Wine's) replaces them.
  EXPECT_EQ(Utf8ToUtf16("\x80" "a"), (std::u16string{0xFFFD, u'a'}));
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8" "a"), (std::u16string{0xFFFD, u'a'}));
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80"), (std::u16string{0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98"), (std::u16string{0xFFFD}));
}

TEST(Utf, UnpairedSurrogatesBecomeReplacement) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'a'}), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDBFF}), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace kvx

namespace kvx {
namespace {

TEST(Utf16Bytes, BothByteOrdersRoundTrip) {
  const std::u16string text = u"A\u00e9\u4e2d";
  EXPECT_EQ(EncodeUtf16Bytes(text), std::string("A\0\xE9\0\x2D\x4E", 6));
  EXPECT_EQ(EncodeUtf16Bytes(text, false), std::string("\0A\0\xE9\x4E\x2D", 6));
  EXPECT_EQ(DecodeUtf16Bytes(EncodeUtf16Bytes(text, false), false), text);
  EXPECT_EQ(DecodeUtf16Bytes(std::string("A\0B", 3)), u"A");  // an odd last byte is ignored
}

}  // namespace
}  // namespace kvx
