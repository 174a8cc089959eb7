#include "service/ini_encoding.h"

#include <sys/stat.h>

#include "core/utf.h"
#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class EncodingTest : public FlashFixture {};

const char kText[] = "[john]\r\nLanguageID=0409\r\nName=Jörg 中\r\n";

std::string Utf16Le(const std::u16string& s) { return "\xFF\xFE" + EncodeUtf16Bytes(s); }

TEST_F(EncodingTest, Utf8ToUtf16AndBackIsByteIdentical) {
  Put("a.ini", Utf8Marked(kText));
  ASSERT_TRUE(ConvertUtf8ToUnicode(ctx_, "~:\\a.ini", "~:\\a.ini"));
  EXPECT_EQ(Get("a.ini"), Utf16Le(u"[john]\r\nLanguageID=0409\r\nName=Jörg 中\r\n"));
  ASSERT_TRUE(ConvertIniToUtf8(ctx_, "~:\\a.ini"));
  EXPECT_EQ(Get("a.ini"), Utf8Marked(kText));
}

TEST_F(EncodingTest, TheConvertersRefuseWhatTheyCannotConvert) {
  Put("u8.ini", Utf8Marked(kText));
  EXPECT_FALSE(ConvertIniToUtf8(ctx_, "~:\\u8.ini"));  // already UTF-8
  EXPECT_EQ(Get("u8.ini"), Utf8Marked(kText));
  Put("empty.ini", "");
  EXPECT_FALSE(ConvertUtf8ToUnicode(ctx_, "~:\\empty.ini", "~:\\out.ini"));
  Put("mark.ini", "\xEF\xBB\xBF");
  EXPECT_FALSE(ConvertUtf8ToUnicode(ctx_, "~:\\mark.ini", "~:\\out.ini"));
  EXPECT_EQ(files_.GetAttributes("~:\\out.ini"), kInvalidAttributes);
  Put("big.ini", std::string(1 << 20, 'a'));
  EXPECT_FALSE(ConvertUtf8ToUnicode(ctx_, "~:\\big.ini", "~:\\out.ini"));
  Put("big16.ini", "\xFF\xFE" + std::string((1 << 20) - 2, 'a'));
  EXPECT_FALSE(ConvertIniToUtf8(ctx_, "~:\\big16.ini"));
  EXPECT_FALSE(ConvertUtf8ToUnicode(ctx_, "~:\\missing.ini", "~:\\out.ini"));
  // UTF-16 without a mark is not taken for UTF-16.
  Put("nomark.ini", std::string("[\0S\0]\0", 6));
  EXPECT_FALSE(ConvertIniToUtf8(ctx_, "~:\\nomark.ini"));
}

TEST_F(EncodingTest, UnmarkedAndInvalidUtf8) {
  Put("plain.ini", "[S]\r\na=\x80x\r\n");
  ASSERT_TRUE(ConvertUtf8ToUnicode(ctx_, "~:\\plain.ini", "~:\\w.ini"));
  EXPECT_EQ(Get("w.ini"), Utf16Le(u"[S]\r\na=\uFFFDx\r\n"));
  // A big-endian file is read as big-endian.
  Put("be.ini", std::string("\xFE\xFF\0[\0S\0]", 8));
  ASSERT_TRUE(ConvertIniToUtf8(ctx_, "~:\\be.ini"));
  EXPECT_EQ(Get("be.ini"), Utf8Marked("[S]"));
}

TEST_F(EncodingTest, CopyUtf8AsUnicodeDeletesTheTargetFirst) {
  Put("t.ini", "old");
  Put("src.ini", Utf8Marked("[S]"));
  EXPECT_TRUE(CopyUtf8AsUnicode(ctx_, "~:\\src.ini", "~:\\t.ini"));
  EXPECT_EQ(Get("t.ini"), Utf16Le(u"[S]"));
  EXPECT_TRUE(CreateUnicodeIni(ctx_, "~:\\new.ini"));
  EXPECT_EQ(Get("new.ini"), "\xFF\xFE");
  EXPECT_FALSE(CreateUnicodeIni(ctx_, "~:\\no\\such\\folder.ini"));
}

TEST_F(EncodingTest, CopyFileBufferedCopiesInChunks) {
  const std::string data(5 * (1 << 19), 'x');  // 2.5 MiB
  Put("big.bin", data);
  ASSERT_TRUE(CopyFileBuffered(ctx_, "~:\\big.bin", "~:\\copy.bin"));
  EXPECT_EQ(Get("copy.bin"), data);
  ASSERT_EQ(debug_.lines.size(), 3u);
  EXPECT_EQ(debug_.lines[0], "Read buffer count : 1048576, and Write buffer size: 1048576");
  EXPECT_EQ(debug_.lines[2], "Read buffer count : 524288, and Write buffer size: 524288");
}

TEST_F(EncodingTest, CopyFileBufferedLeavesTheDestinationAloneOnFailure) {
  Put("dest.ini", "keep me");
  int error = 0;
  EXPECT_FALSE(CopyFileBuffered(ctx_, "~:\\missing.ini", "~:\\dest.ini", &error));
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_EQ(Get("dest.ini"), "keep me");
  Put("src.ini", "new");
  chmod(Vol("dest.ini").c_str(), 0444);
  EXPECT_FALSE(CopyFileBuffered(ctx_, "~:\\src.ini", "~:\\dest.ini", &error));
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_EQ(Get("dest.ini"), "keep me");
  chmod(Vol("dest.ini").c_str(), 0644);
  EXPECT_TRUE(CopyFileBuffered(ctx_, "~:\\src.ini", "~:\\dest.ini", &error));
  EXPECT_EQ(Get("dest.ini"), "new");
  EXPECT_FALSE(CopyFileBuffered(ctx_, "~:\\src.ini", "~:\\nofolder\\dest.ini", &error));
}

TEST_F(EncodingTest, AFullDestinationLeavesNoHalfFile) {
  Put("src.bin", std::string(3 << 20, 'y'));
  Put("dest.bin", "old content");
  {
    VolumeFullAt full(1 << 20);
    EXPECT_FALSE(CopyFileBuffered(ctx_, "~:\\src.bin", "~:\\dest.bin"));
  }
  EXPECT_EQ(Get("dest.bin"), "old content");
  EXPECT_NE(access(Vol("dest.bin.kvxtmp").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace kvx
