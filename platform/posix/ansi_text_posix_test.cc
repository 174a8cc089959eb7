#include "platform/posix/ansi_text_posix.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

TEST(AnsiText, UnmappableCharactersBecomeTheDefaultCharacter) {
  EXPECT_EQ(ConvertToCodeset("Grüße 中 x", "ISO-8859-1"), "Gr\xFC\xDF" "e ? x");
  EXPECT_EQ(ConvertToCodeset("Grüße 中", "ANSI_X3.4-1968"), "Gr??e ?");
  EXPECT_EQ(ConvertToCodeset("中文", "GB18030"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(ConvertToCodeset("Grüße 中", "UTF-8"), "Grüße 中");
  // Ill-formed input and an unknown character set lose nothing but the
  // characters they cannot carry.
  EXPECT_EQ(ConvertToCodeset("a\x80" "b", "ISO-8859-1"), "a?b");
  EXPECT_EQ(ConvertToCodeset("aé", "NO-SUCH-SET"), "a?");
}

TEST(AnsiText, TheCodesetComesFromTheLocale) {
  EXPECT_EQ(CodesetForLocale("C.UTF-8"), "UTF-8");
  EXPECT_EQ(CodesetForLocale("C"), "ANSI_X3.4-1968");
  // A locale that is not installed still names its character set.
  EXPECT_EQ(CodesetForLocale("xx_YY.ISO-8859-15@euro"), "ISO-8859-15");
  EXPECT_EQ(CodesetForLocale("xx_YY"), "ANSI_X3.4-1968");
}

}  // namespace
}  // namespace kvx
