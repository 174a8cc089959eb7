#include "platform/posix/profile_posix.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
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

// Puts `bytes` into the existing file in place (same inode) and gives it
// back the times it had, so that nothing but its bytes tells it changed:
// what a file system with coarse times shows when a working copy is
// deleted and recreated under the same name.
void RewriteKeepingIdentity(const std::string& path, const std::string& bytes) {
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(before.st_size));
  FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ASSERT_EQ(std::fclose(f), 0);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  struct stat after;
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  ASSERT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(after.st_size, before.st_size);
  ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(ProfileTest, AFileRecreatedWithTheSameInodeSizeAndTimesIsReadAsItIs) {
  WriteFile(file(), Utf16File(u"[john]\r\nPassword=aaaa\r\n"));
  std::u16string out, names;
  profile.GetSectionNames(names, 520, file());
  EXPECT_EQ(names, std::u16string(u"john\0\0", 6));
  profile.GetString("john", "Password", "", out, 2048, file());
  EXPECT_EQ(out, u"aaaa");

  // The next account's copy, indistinguishable by its metadata.
  RewriteKeepingIdentity(file(), Utf16File(u"[mary]\r\nPassword=bbbb\r\n"));
  profile.GetSectionNames(names, 520, file());
  EXPECT_EQ(names, std::u16string(u"mary\0\0", 6));
  profile.GetString("mary", "Password", "", out, 2048, file());
  EXPECT_EQ(out, u"bbbb");
  EXPECT_EQ(profile.GetString("john", "Password", "none", out, 2048, file()), 4u);
  EXPECT_EQ(out, u"none");

  // Writes not yet flushed are applied to what the file holds now, not to
  // an older parse of it.
  EXPECT_TRUE(profile.WriteString("mary", "MAIL", "0", file()));
  RewriteKeepingIdentity(file(), Utf16File(u"[anne]\r\nPassword=cccc\r\n"));
  profile.GetString("anne", "Password", "", out, 2048, file());
  EXPECT_EQ(out, u"cccc");
  profile.GetString("mary", "MAIL", "", out, 2048, file());
  EXPECT_EQ(out, u"0");
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[anne]\r\nPassword=cccc\r\n[mary]\r\nMAIL=0\r\n"));

  // The same after our own write-back: the file is trusted only while it
  // holds what was written.
  RewriteKeepingIdentity(file(), Utf16File(u"[zack]\r\nPassword=dddd\r\n[mary]\r\nMAIL=1\r\n"));
  profile.GetString("zack", "Password", "", out, 2048, file());
  EXPECT_EQ(out, u"dddd");
}

TEST_F(ProfileTest, AReadOnlyFileIsNeverWrittenWhoeverRunsUs) {
  const std::string before = Utf16File(u"[S]\r\na=1\r\n");
  WriteFile(file(), before);
  ASSERT_EQ(chmod(file().c_str(), 0444), 0);
  EXPECT_FALSE(profile.WriteString("S", "a", "2", file()));
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), before);
  std::u16string out;
  profile.GetString("S", "a", "", out, 2048, file());
  EXPECT_EQ(out, u"1");

  // Made read-only while a write was held: the write-back fails, the file
  // stays, and reads see the file again.
  ASSERT_EQ(chmod(file().c_str(), 0644), 0);
  EXPECT_TRUE(profile.WriteString("S", "a", "3", file()));
  ASSERT_EQ(chmod(file().c_str(), 0444), 0);
  EXPECT_FALSE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), before);
  profile.GetString("S", "a", "", out, 2048, file());
  EXPECT_EQ(out, u"1");

  // A folder by the file's name is not a file to write either, and a pipe
  // is neither read (nor waited for) nor written.
  MakeDirs(dir / "folder.ini");
  EXPECT_FALSE(profile.WriteString("S", "a", "1", dir / "folder.ini"));
  ASSERT_EQ(mkfifo((dir / "pipe.ini").c_str(), 0666), 0);
  EXPECT_EQ(profile.GetString("S", "a", "none", out, 2048, dir / "pipe.ini"), 4u);
  EXPECT_FALSE(profile.WriteString("S", "a", "1", dir / "pipe.ini"));
  // Nor is a file in a folder that does not exist.
  EXPECT_FALSE(profile.WriteString("S", "a", "1", dir / "none/x.ini"));
}

TEST_F(ProfileTest, WriteBackReplacesTheFileWholeOrNotAtAll) {
  const std::string before = Utf16File(u"[S]\r\na=1\r\n");
  WriteFile(file(), before);
  ASSERT_EQ(chmod(file().c_str(), 0640), 0);
  // A file too large to be written (a full disk, a quota): the old file
  // stays whole.
  EXPECT_TRUE(profile.WriteString("S", "big", std::string(4096, 'x'), file()));
  struct sigaction ignore = {}, old_action = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old_action);
  struct rlimit old_limit;
  getrlimit(RLIMIT_FSIZE, &old_limit);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 1024;
  setrlimit(RLIMIT_FSIZE, &limit);
  const bool flushed = profile.Flush(file());
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_FALSE(flushed);
  EXPECT_EQ(ReadFile(file()), before);
  EXPECT_FALSE(std::ifstream(file() + ".kvxtmp").good());

  // A write-back keeps the file's mode.
  EXPECT_TRUE(profile.WriteString("S", "b", "2", file()));
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[S]\r\na=1\r\nb=2\r\n"));
  struct stat st;
  ASSERT_EQ(stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // Through a link, the file it names is written and the link stays.
  const std::string link = dir / "link.ini";
  ASSERT_EQ(symlink(file().c_str(), link.c_str()), 0);
  EXPECT_TRUE(profile.WriteString("S", "c", "3", link));
  EXPECT_TRUE(profile.Flush(link));
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[S]\r\na=1\r\nb=2\r\nc=3\r\n"));
}

TEST_F(ProfileTest, NarrowTextBeginningWithMarkBytesIsWrittenBackReadable) {
  // After the blank lines and blanks that the write-back drops, the first
  // key begins with the bytes of a UTF-16 mark, or of a UTF-8 one.
  for (const std::string& mark : {std::string("\xFF\xFE"), std::string("\xEF\xBB\xBF")}) {
    WriteFile(file(), "\r\n  " + mark + "key=1\r\n");
    EXPECT_TRUE(profile.WriteString("S", "k", "v", file()));
    EXPECT_TRUE(profile.Flush(file()));
    PosixPrivateProfile fresh(map);
    std::u16string out;
    fresh.GetString("", mark + "key", "", out, 2048, file());
    EXPECT_EQ(out, u"1") << ReadFile(file());
    fresh.GetString("S", "k", "", out, 2048, file());
    EXPECT_EQ(out, u"v");
  }
}

TEST_F(ProfileTest, WrittenNamesAreTrimmedAsLookupsTrimThem) {
  WriteFile(file(), "\xFF\xFE");
  EXPECT_TRUE(profile.WriteString("S\t", "k ", "1", file()));
  EXPECT_TRUE(profile.WriteString("s", " K", "2", file()));
  std::u16string out;
  profile.GetString("S", "k", "", out, 2048, file());
  EXPECT_EQ(out, u"2");
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[S]\r\nk=2\r\n"));
}

// Blanks right before a NUL stay in a name or value until a write puts the
// file's lines back without what followed the NUL: from then on, before any
// flush and for the writes that follow, they read trimmed.
TEST_F(ProfileTest, AWriteTrimsNamesAndValuesCutAtANulForLaterReads) {
  using namespace std::string_literals;
  WriteFile(file(), Utf16File(u"[T \0x]\r\nt=3\r\n[S]\r\nk\t\0x=1\r\nv=2 \0junk\r\n"s));
  std::u16string out;
  profile.GetString("T", "t", "d", out, 100, file());
  EXPECT_EQ(out, u"d");
  profile.GetString("S", "v", "d", out, 100, file());
  EXPECT_EQ(out, u"2 ");
  EXPECT_TRUE(profile.WriteString("U", "u", "1", file()));
  profile.GetString("T", "t", "d", out, 100, file());
  EXPECT_EQ(out, u"3");
  profile.GetString("S", "k", "d", out, 100, file());
  EXPECT_EQ(out, u"1");
  profile.GetString("S", "v", "d", out, 100, file());
  EXPECT_EQ(out, u"2");
  std::u16string names;
  EXPECT_EQ(profile.GetSectionNames(names, 100, file()), 6u);
  EXPECT_EQ(names, u"T\0S\0U\0\0"s);
  // The first write put the lines back as they were read; the next one
  // puts them back trimmed.
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[T ]\r\nt=3\r\n[S]\r\nk\t=1\r\nv=2 \r\n[U]\r\nu=1\r\n"));
  EXPECT_TRUE(profile.WriteString("U", "u", "2", file()));
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[T]\r\nt=3\r\n[S]\r\nk=1\r\nv=2\r\n[U]\r\nu=2\r\n"));
}

// A write to a name the file holds cut at a NUL after blanks is not found
// there, so it adds a section of its own; once written, the old one,
// trimmed, comes first and answers reads.
TEST_F(ProfileTest, AWriteBesideASectionCutAtANulIsShadowedByIt) {
  using namespace std::string_literals;
  WriteFile(file(), Utf16File(u"[Ac\t\0ss]\r\nmail=1\r\n"s));
  EXPECT_TRUE(profile.WriteString("Ac", "chat", "2", file()));
  std::u16string out;
  profile.GetString("Ac", "chat", "d", out, 100, file());
  EXPECT_EQ(out, u"d");
  profile.GetString("Ac", "mail", "d", out, 100, file());
  EXPECT_EQ(out, u"1");
  EXPECT_TRUE(profile.Flush(file()));
  EXPECT_EQ(ReadFile(file()), Utf16File(u"[Ac\t]\r\nmail=1\r\n[Ac]\r\nchat=2\r\n"));
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
