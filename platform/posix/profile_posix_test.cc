#include "platform/posix/profile_posix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/utf.h"
#include "tests/temp_dir.h"
#include "tests/tool_harness.h"
#include "tests/wine/profile_corpus_runner.h"

namespace kvx {
namespace {

using namespace kvx::testing;

std::string Utf16File(const std::u16string& text) { return "\xFF\xFE" + EncodeUtf16Bytes(text); }

class ProfileTest : public ::testing::Test {
 protected:
  ProfileTest() : map(dir.path()), profile(map) {}
  std::string file() { return dir / "a.ini"; }
  TempDir dir;
  PathMap map;
  PosixPrivateProfile profile;
};

TEST_F(ProfileTest, WritesIntoAMarkedUnicodeFileKeepItsEncoding) {
  WriteFile(file(), "\xFF\xFE");
  EXPECT_TRUE(profile.WriteString("General", "DefaultUser", "john", file()));
  EXPECT_TRUE(profile.WriteString("john", "LanguageID", "0409", file()));
  EXPECT_TRUE(profile.WriteString("GENERAL", "Resolution", "1024x768", file()));
  EXPECT_TRUE(profile.WriteString("general", "defaultuser", "mary", file()));
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()),
            Utf16File(u"[General]\r\nDefaultUser=mary\r\nResolution=1024x768\r\n[john]\r\nLanguageID=0409\r\n"));
}

TEST_F(ProfileTest, ReadsTrimAndUnquote) {
  WriteFile(file(), Utf16File(u"[S]\r\n k = \"v 1\" \r\nn=12\r\nempty=\r\nnoeq\r\n"));
  std::u16string out;
  EXPECT_EQ(profile.GetString("s", "K", "d", out, 2048, file()), 3u);
  EXPECT_EQ(out, u"v 1");
  EXPECT_EQ(profile.GetString("S", "noeq", "dflt  ", out, 2048, file()), 4u);
  EXPECT_EQ(out, u"dflt");
  EXPECT_EQ(profile.GetString("S", "empty", "d", out, 2048, file()), 0u);
  EXPECT_EQ(profile.GetInt("S", "n", 0, file()), 12u);
  EXPECT_EQ(profile.GetInt("S", "empty", 1, file()), 1u);
  EXPECT_EQ(profile.GetInt("S", "missing", 0, file()), 0u);
  EXPECT_EQ(profile.GetString("S", "k", "d", out, 3, file()), 2u);
  EXPECT_EQ(out, u"v ");
}

TEST_F(ProfileTest, WritesAreHeldUntilFlushedAndChangedFilesAreReadAnew) {
  WriteFile(file(), Utf16File(u"[S]\r\na=1\r\n"));
  std::u16string out;
  profile.GetString("S", "a", "", out, 2048, file());
  EXPECT_EQ(out, u"1");
  // Replaced behind the cache's back (another inode, another size).
  WriteFile(dir / "b.ini", Utf16File(u"[S]\r\na=22\r\n"));
  ASSERT_EQ(rename((dir / "b.ini").c_str(), file().c_str()), 0);
  profile.GetString("S", "a", "", out, 2048, file());
  EXPECT_EQ(out, u"22");
  EXPECT_TRUE(profile.WriteString("S", "b", "3", file()));
  profile.GetString("S", "b", "", out, 2048, file());
  EXPECT_EQ(out, u"3");  // seen by the profile functions at once
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[S]\r\na=22\r\n"));
  // Using four other files pushes the first out of the cache, written.
  for (int i = 0; i < 4; ++i) profile.GetString("S", "a", "", out, 2048, dir / std::to_string(i));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[S]\r\na=22\r\nb=3\r\n"));
  EXPECT_TRUE(profile.WriteString("S", "c", "4", file()));
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[S]\r\na=22\r\nb=3\r\nc=4\r\n"));
  {
    PosixPrivateProfile other(map);
    EXPECT_TRUE(other.WriteString("S", "d", "5", file()));
  }  // ended: written
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[S]\r\na=22\r\nb=3\r\nc=4\r\nd=5\r\n"));
}

TEST_F(ProfileTest, SectionNamesFillTheBufferLikeWindows) {
  WriteFile(file(), Utf16File(u"[S]\r\n[T]\r\n[U]\r\n"));
  std::u16string buf;
  EXPECT_EQ(profile.GetSectionNames(buf, 520, file()), 6u);
  EXPECT_EQ(buf, std::u16string(u"S\0T\0U\0\0", 7));
  EXPECT_EQ(profile.GetSectionNames(buf, 5, file()), 3u);
  EXPECT_EQ(buf, std::u16string(u"S\0T\0\0", 5));
  EXPECT_EQ(profile.GetSectionNames(buf, 3, file()), 1u);
  EXPECT_EQ(buf, std::u16string(u"S\0\0", 3));
  // A missing file has no sections.
  EXPECT_EQ(profile.GetSectionNames(buf, 520, dir / "none.ini"), 0u);
}

// The corpus through the POSIX profile functions, the files named as the
// Windows helper names them.
void RunCorpus(const std::string& corpus, const std::string& outdir) {
  PathMap map(outdir);
  PosixPrivateProfile profile(map);
  CorpusFiles files;
  files.path = [&](const std::string& name, const char* ext) { return outdir + "/" + name + ext; };
  files.write = [](const std::string& path, const std::string& bytes) { WriteFile(path, bytes); };
  files.remove = [](const std::string& path) { unlink(path.c_str()); };
  RunProfileCorpus(ReadFile(corpus), profile, files);
}

std::string WinePath(const std::string& native) {
  std::string out = "Z:" + native;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

// The same corpus through Wine's profile functions and through ours: the
// files and every read must agree byte for byte.
TEST(ProfileDifferential, AgreesWithWine) {
  const std::string wine = "/usr/lib/wine/wine64";
  const bool required = std::getenv("KVX_REQUIRE_WINE") != nullptr;
  if (access(wine.c_str(), X_OK) != 0 || access(KVX_PROFILE_OPS_EXE, R_OK) != 0) {
    if (required) FAIL() << "wine64 or " KVX_PROFILE_OPS_EXE " is missing";
    GTEST_SKIP() << "wine64 or the mingw-w64 helper is missing";
  }
  TempDir dir;
  MakeDirs(dir / "wine");
  MakeDirs(dir / "ours");
  MakeDirs(dir / "prefix");
  const std::string corpus = KVX_SOURCE_DIR "/tests/wine/profile_corpus.txt";
  RunResult r = RunProgram({wine, KVX_PROFILE_OPS_EXE, WinePath(corpus), WinePath(dir / "wine")},
                           {"WINEPREFIX=" + (dir / "prefix"), "WINEDEBUG=-all", "HOME=" + dir.path(),
                            "PATH=/usr/bin:/bin"},
                           dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  RunCorpus(corpus, dir / "ours");

  std::ifstream in(corpus);
  int cases = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("case\t", 0) != 0) continue;
    const std::string name = line.substr(5);
    ++cases;
    for (const char* ext : {".ini", ".txt"}) {
      const std::string theirs = ReadFile(dir / "wine" + "/" + name + ext);
      const std::string ours = ReadFile(dir / "ours" + "/" + name + ext);
      EXPECT_EQ(ours, theirs) << name << ext;
    }
  }
  EXPECT_GE(cases, 10);
}

}  // namespace
}  // namespace kvx
