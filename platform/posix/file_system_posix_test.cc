#include "platform/posix/file_system_posix.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "app/log_file.h"
#include "core/text.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class PosixFilesTest : public ::testing::Test {
 protected:
  PosixFilesTest() : map(machine.path()), files(map, machine / "temp") {
    MakeDirs(machine / "dosdevices");
    symlink(volume.path().c_str(), (machine / "dosdevices/~:").c_str());
  }
  TempDir machine, volume;
  PathMap map;
  PosixFileSystem files;
};

std::vector<std::string> Names(const std::vector<FindEntry>& entries) {
  std::vector<std::string> names;
  for (const FindEntry& e : entries) names.push_back(e.name);
  return names;
}

TEST_F(PosixFilesTest, EnumerationListsDotsBelowTheRootInNameOrder) {
  MakeDirs(volume / "QUARLE.000/b");
  MakeDirs(volume / "QUARLE.000/A");
  WriteFile(volume / "QUARLE.000/c.txt", "12345");
  std::vector<FindEntry> entries;
  ASSERT_TRUE(files.FindFiles("~:\\QUARLE.000\\*", entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{".", "..", "A", "b", "c.txt"}));
  EXPECT_TRUE(entries[2].attributes & kAttrDirectory);
  EXPECT_EQ(entries[4].size, 5u);
  EXPECT_GT(entries[4].last_write, 116444736000000000LL);  // after 1970
  ASSERT_TRUE(files.FindFiles("~:\\QUARLE.000\\*.*", entries));
  EXPECT_EQ(entries.size(), 5u);
  ASSERT_TRUE(files.FindFiles("~:\\*", entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"QUARLE.000"}));  // no dots at a root
  EXPECT_FALSE(files.FindFiles("~:\\missing\\*", entries));
  ASSERT_TRUE(files.FindFiles("~:\\QUARLE.000\\?.TXT", entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"c.txt"}));
}

TEST_F(PosixFilesTest, AttributesFollowPermissionsNamesAndTheStoredBits) {
  WriteFile(volume / "f", "x");
  WriteFile(volume / ".hidden", "x");
  EXPECT_EQ(files.GetAttributes("~:\\f"), kAttrNormal);
  EXPECT_EQ(files.GetAttributes("~:\\.hidden"), kAttrHidden);
  EXPECT_EQ(files.GetAttributes("~:\\missing"), kInvalidAttributes);
  ASSERT_TRUE(files.SetAttributes("~:\\f", kAttrReadOnly));
  EXPECT_EQ(files.GetAttributes("~:\\f"), kAttrReadOnly);
  EXPECT_FALSE(files.DeleteFile("~:\\f"));  // read-only files are not deleted
  ASSERT_TRUE(files.SetAttributes("~:\\f", kAttrNormal));
  EXPECT_TRUE(files.DeleteFile("~:\\f"));
  EXPECT_EQ(files.Access("~:\\f", 0), ENOENT);
}

TEST_F(PosixFilesTest, FoldersTempFilesAndReplacement) {
  EXPECT_TRUE(files.CreateDirectory("~:\\one"));
  EXPECT_FALSE(files.CreateDirectory("~:\\two\\levels"));
  EXPECT_FALSE(files.RemoveDirectory("~:\\missing"));
  EXPECT_TRUE(files.RemoveDirectory("~:\\one"));
  const std::string temp = files.TempFolder();
  EXPECT_EQ(temp.back(), '\\');
  std::string a, b;
  ASSERT_TRUE(files.CreateTempFile(temp, "QZRX", a));
  ASSERT_TRUE(files.CreateTempFile(temp, "QZR", b));
  EXPECT_NE(a, b);
  EXPECT_NE(a.find("\\QZR"), std::string::npos);
  EXPECT_EQ(a.substr(a.size() - 4), ".tmp");
  WriteFile(volume / "old", "old");
  WriteFile(volume / "new", "new");
  chmod((volume / "old").c_str(), 0640);
  ASSERT_TRUE(files.ReplaceFile("~:\\new", "~:\\old"));
  EXPECT_EQ(ReadFile(volume / "old"), "new");
  struct stat st;
  ASSERT_EQ(stat((volume / "old").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file keeps its permissions
}

TEST_F(PosixFilesTest, OpeningFoldersAndMissingFilesFails) {
  MakeDirs(volume / "dir");
  int error = 0;
  EXPECT_EQ(files.Open("~:\\dir", "rb", &error), nullptr);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_EQ(files.Open("~:\\dir", "w+", &error), nullptr);
  EXPECT_EQ(files.Open("~:\\none", "rb", &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_EQ(files.Open("Q:\\x", "rb", &error), nullptr);
  EXPECT_TRUE(MatchesMask("Abc.TXT", "a?c.*"));
  EXPECT_FALSE(MatchesMask("abd", "a?c"));
}

TEST_F(PosixFilesTest, AReadOnlyFileIsNotWrittenWhoeverRunsUs) {
  WriteFile(volume / "ro.ini", "keep");
  chmod((volume / "ro.ini").c_str(), 0444);
  int error = 0;
  for (const char* mode : {"wb", "w+", "ab", "r+b"}) {
    error = 0;
    EXPECT_EQ(files.Open("~:\\ro.ini", mode, &error), nullptr) << mode;
    EXPECT_EQ(error, kErrorAccessDenied) << mode;
  }
  EXPECT_NE(files.Open("~:\\ro.ini", "rb", &error), nullptr);
  EXPECT_EQ(files.Access("~:\\ro.ini", 2), EACCES);
  EXPECT_EQ(files.Access("~:\\ro.ini", 4), 0);
  // Neither a read-only file nor a folder is replaced.
  WriteFile(volume / "new", "new");
  EXPECT_FALSE(files.ReplaceFile("~:\\new", "~:\\RO.INI"));
  MakeDirs(volume / "dir");
  EXPECT_FALSE(files.ReplaceFile("~:\\new", "~:\\dir"));
  EXPECT_EQ(ReadFile(volume / "ro.ini"), "keep");
  EXPECT_EQ(ReadFile(volume / "new"), "new");
  // A writable file still is.
  chmod((volume / "ro.ini").c_str(), 0644);
  EXPECT_TRUE(files.ReplaceFile("~:\\new", "~:\\ro.ini"));
  EXPECT_EQ(ReadFile(volume / "ro.ini"), "new");
}

TEST_F(PosixFilesTest, SameFileSeesThroughEverySpelling) {
  MakeDirs(volume / "QUARLE.000/user");
  MakeDirs(volume / "QUARLE.000/other");
  symlink((volume / "QUARLE.000/user").c_str(), (volume / "alias").c_str());
  const std::string user = "~:\\QUARLE.000\\user";
  for (const std::string& other :
       {std::string("~:/quarle.000/./USER/"), std::string("~:\\QUARLE.000\\other\\..\\user\\"),
        std::string("~:\\alias"), "Z:" + volume.path() + "/QUARLE.000/user"})
    EXPECT_TRUE(files.SameFile(user, other)) << other;
  EXPECT_FALSE(files.SameFile(user, "~:\\QUARLE.000\\other"));
  EXPECT_FALSE(files.SameFile(user, "~:\\QUARLE.000\\missing"));
}

TEST_F(PosixFilesTest, FilesWeMakeAreFoundInAnyCaseAtOnce) {
  // Looking a name up without regard to case indexes the folder; files this
  // process makes afterwards must be found through that index too.
  const std::string temp = files.TempFolder();
  EXPECT_EQ(files.GetAttributes(temp + "NOTHING"), kInvalidAttributes);
  std::string made;
  ASSERT_TRUE(files.CreateTempFile(temp, "qzr", made));
  const size_t cut = made.rfind('\\') + 1;
  EXPECT_NE(files.GetAttributes(made.substr(0, cut) + ToUpperAscii(made.substr(cut))),
            kInvalidAttributes)
      << made;
  WriteFile(volume / "from", "x");
  EXPECT_EQ(files.GetAttributes("~:\\NOTHING"), kInvalidAttributes);
  ASSERT_TRUE(files.ReplaceFile("~:\\from", "~:\\renamed"));
  EXPECT_NE(files.GetAttributes("~:\\RENAMED"), kInvalidAttributes);
}

// Two PCs that run the tool from one shared folder: both empty the log at
// their start, then each adds its line; every line of the log is whole.
TEST_F(PosixFilesTest, RunsSharingOneHistoryLogNeverTearALine) {
  FakeProcess process;
  process.module = PathMap::ToWindows(volume / "QZRRemote");
  RecordingConsole console;
  RecordingDebug debug;
  FakeStrings strings;
  FakeAnsi ansi;
  FakeClock clock;
  const LogFile::Deps deps{process, files, console, debug, strings, ansi, clock};
  LogFile first(deps), second(deps);
  first.WriteHistoryLine(0, std::string(200, 'L') + ".xml");
  second.WriteHistoryLine(5, "s.xml");
  const std::string log = ReadFile(volume / "QZRRemote.log");
  EXPECT_EQ(log, "2010-05-04 13:07, " + std::string(200, 'L') +
                     ".xml, The XML file has been parsed successfully.\n\n"
                     "2010-05-04 13:07, s.xml, Failed to parse the XML file.\n\n");
  EXPECT_EQ(console.text_, "");
}

TEST_F(PosixFilesTest, ANewFileIsCreatedNewWhateverHeldItsName) {
  const std::string outside = machine / "outside";
  WriteFile(outside, "outside");
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> holders = {
      {"a leftover file", [](const std::string& p) { WriteFile(p, "old leftover"); }},
      {"a link to a file outside",
       [&](const std::string& p) { ASSERT_EQ(symlink(outside.c_str(), p.c_str()), 0); }},
      {"a link to nothing", [](const std::string& p) { ASSERT_EQ(symlink("/nowhere/x", p.c_str()), 0); }},
      {"a pipe", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
  };
  for (const auto& [what, make] : holders) {
    const std::string native = volume / "f.kvxtmp";
    make(native);
    int error = 0;
    std::unique_ptr<File> f = files.CreateNew("~:\\f.kvxtmp", &error);
    ASSERT_NE(f, nullptr) << what;
    ASSERT_TRUE(f->Write("new", 3) && f->Sync()) << what;
    f.reset();
    struct stat st;
    ASSERT_EQ(lstat(native.c_str(), &st), 0) << what;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << what;
    EXPECT_EQ(ReadFile(native), "new") << what;
    EXPECT_EQ(ReadFile(outside), "outside") << what;
    unlink(native.c_str());
  }
  // A folder or a read-only file by that name stays, and is refused.
  MakeDirs(volume / "dir.kvxtmp");
  WriteFile(volume / "ro.kvxtmp", "keep");
  chmod((volume / "ro.kvxtmp").c_str(), 0444);
  for (const char* name : {"~:\\dir.kvxtmp", "~:\\ro.kvxtmp"}) {
    int error = 0;
    EXPECT_EQ(files.CreateNew(name, &error), nullptr) << name;
    EXPECT_EQ(error, kErrorAccessDenied) << name;
  }
  EXPECT_EQ(ReadFile(volume / "ro.kvxtmp"), "keep");
}

TEST_F(PosixFilesTest, OnlyRegularFilesAreOpenedAndNoPipeIsWaitedFor) {
  RecordingDebug debug;
  PosixFileSystem heard(map, machine / "temp", &debug);
  ASSERT_EQ(mkfifo((volume / "pipe").c_str(), 0644), 0);
  symlink("/dev/zero", (volume / "zero").c_str());
  alarm(20);  // a pipe that is waited for fails the test instead of hanging it
  for (const char* name : {"~:\\pipe", "~:\\zero"}) {
    for (const char* mode : {"rb", "r+b", "ab"}) {
      int error = 0;
      EXPECT_EQ(heard.Open(name, mode, &error), nullptr) << name << " " << mode;
      EXPECT_EQ(error, kErrorAccessDenied) << name << " " << mode;
    }
  }
  alarm(0);
  EXPECT_TRUE(debug.Has("Open: passed over " + volume.path() + "/pipe: not a regular file"));
  std::vector<FindEntry> entries;
  ASSERT_TRUE(heard.FindFiles("~:\\*", entries));
  for (const FindEntry& e : entries) EXPECT_TRUE(e.attributes & kAttrDevice) << e.name;
}

TEST_F(PosixFilesTest, IsWithinFollowsEveryLinkOnTheWay) {
  const std::string outside = machine / "outside";
  MakeDirs(outside + "/sub");
  WriteFile(outside + "/f", "f");
  MakeDirs(volume / "acc/inner");
  WriteFile(volume / "acc/inner/f", "f");
  symlink(outside.c_str(), (volume / "acc/out").c_str());
  symlink((outside + "/f").c_str(), (volume / "acc/f-out").c_str());
  symlink("inner/f", (volume / "acc/f-in").c_str());
  symlink("..", (volume / "acc/up").c_str());
  symlink("/nowhere", (volume / "acc/dangling").c_str());
  const std::vector<std::pair<const char*, bool>> cases = {
      {"~:\\acc\\inner", true},        {"~:\\acc\\inner\\f", true},
      {"~:\\acc\\f-in", true},         {"~:\\acc\\new-name", true},
      {"~:\\acc\\dangling", true},     {"~:\\acc\\out", false},
      {"~:\\acc\\out\\sub", false},   {"~:\\acc\\out\\new-name", false},
      {"~:\\acc\\f-out", false},       {"~:\\acc\\up", false},
      {"~:\\acc", false},               {"~:\\acc\\..\\x", false},
  };
  for (const auto& [path, within] : cases) EXPECT_EQ(files.IsWithin("~:\\acc", path), within) << path;
  // What a link leads to is its own folder: inside it, the same rule holds.
  EXPECT_TRUE(files.IsWithin("~:\\acc\\out", "~:\\acc\\out\\sub"));
  // A folder not made yet holds what would be made in it.
  EXPECT_TRUE(files.IsWithin("~:\\acc\\new", "~:\\acc\\new\\x\\y"));
  EXPECT_FALSE(files.IsWithin("~:\\acc\\new", "~:\\acc\\other\\x"));
}

}  // namespace
}  // namespace kvx
