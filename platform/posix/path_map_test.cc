#include "platform/posix/path_map.h"
#include "platform/posix/process_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/temp_dir.h"

namespace kvx {
namespace {

using testing::MakeDirs;
using testing::TempDir;
using testing::WriteFile;

class PathMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs(machine / "dosdevices");
    MakeDirs(volume / "QUARLE.000/John");
    WriteFile(volume / "QUARLE.000/John/kvxaccount.ini", "x");
    ASSERT_EQ(symlink(volume.path().c_str(), (machine / "dosdevices/~:").c_str()), 0);
  }
  TempDir machine, volume;
  PathMap map{machine.path()};
};

TEST_F(PathMapTest, DriveLettersResolveThroughTheDriveMap) {
  std::string native;
  ASSERT_TRUE(map.ToNative("~:\\QUARLE.000\\John\\kvxaccount.ini", native));
  EXPECT_EQ(native, volume.path() + "/QUARLE.000/John/kvxaccount.ini");
  ASSERT_TRUE(map.ToNative("~:", native));
  EXPECT_EQ(native, volume.path());
  // A drive that is not defined names nothing.
  EXPECT_FALSE(map.ToNative("C:\\Windows", native));
  EXPECT_TRUE(native.empty());
  EXPECT_FALSE(map.ToNative("Q:", native));
}

TEST_F(PathMapTest, NamesAreFoundWithoutRegardToCase) {
  std::string native;
  ASSERT_TRUE(map.ToNative("~:\\quarle.000\\JOHN\\KVXACCOUNT.INI", native));
  EXPECT_EQ(native, volume.path() + "/QUARLE.000/John/kvxaccount.ini");
  // A missing name is kept as written, and so is everything after it.
  ASSERT_TRUE(map.ToNative("~:/quarle.000/Mary/KvxAccount.ini", native));
  EXPECT_EQ(native, volume.path() + "/QUARLE.000/Mary/KvxAccount.ini");
}

TEST_F(PathMapTest, ANameRenamedWithinOneTickOfTheFolderClockIsNotAnsweredStale) {
  std::string native;
  ASSERT_TRUE(map.ToNative("~:\\QUARLE.000\\JOHN", native));
  EXPECT_EQ(native, volume.path() + "/QUARLE.000/John");
  // Another program renames the folder; the parent keeps its inode, and its
  // time is put back as a clock of coarse ticks would have left it.
  const std::string parent = volume / "QUARLE.000";
  struct stat before;
  ASSERT_EQ(stat(parent.c_str(), &before), 0);
  ASSERT_EQ(rename((parent + "/John").c_str(), (parent + "/john").c_str()), 0);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, parent.c_str(), times, 0), 0);
  ASSERT_TRUE(map.ToNative("~:\\QUARLE.000\\JOHN", native));
  EXPECT_EQ(native, volume.path() + "/QUARLE.000/john");
}

TEST_F(PathMapTest, BothSeparatorsAndDotsAreUnderstood) {
  std::string native;
  ASSERT_TRUE(map.ToNative("~:\\QUARLE.000/sub\\..\\.\\John", native));
  EXPECT_EQ(native, volume.path() + "/QUARLE.000/John");
  // ".." never climbs above the drive's root.
  ASSERT_TRUE(map.ToNative("~:\\..\\..\\QUARLE.000", native));
  EXPECT_EQ(native, volume.path() + "/QUARLE.000");
}

TEST_F(PathMapTest, ZIsTheRootAndRootedPathsLieOnIt) {
  std::string native;
  ASSERT_TRUE(map.ToNative("Z:\\tmp", native));
  EXPECT_EQ(native, "/tmp");
  ASSERT_TRUE(map.ToNative("z:", native));
  EXPECT_EQ(native, "/");
  ASSERT_TRUE(map.ToNative("\\tmp\\x", native));
  EXPECT_EQ(native, "/tmp/x");
}

TEST_F(PathMapTest, RelativePathsCountFromTheWorkingFolder) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(volume.path().c_str()), 0);
  std::string native;
  const bool ok = map.ToNative("quarle.000\\john", native);
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_TRUE(ok);
  EXPECT_EQ(native, volume.path() + "/QUARLE.000/John");
}

TEST_F(PathMapTest, DevicesNetworkPathsAndEmptyTextNameNoFile) {
  std::string native;
  EXPECT_FALSE(map.ToNative("\\\\.\\KVXIO", native));
  EXPECT_FALSE(map.ToNative("\\\\server\\share\\x", native));
  EXPECT_FALSE(map.ToNative("", native));
  EXPECT_FALSE(map.ToNative("1:\\x", native));
}

TEST(PathMapWindowsForm, AbsolutePathsBecomeZPaths) {
  EXPECT_EQ(PathMap::ToWindows("/work/build/bin/QZRRemote"), "Z:\\work\\build\\bin\\QZRRemote");
  EXPECT_EQ(PathMap::ToWindows("/"), "Z:\\");
}

TEST(FileNameCase, LettersBeyondAsciiFold) {
  EXPECT_TRUE(FileNamesEqualIgnoringCase("ÄRGER", "ärger"));
  EXPECT_TRUE(FileNamesEqualIgnoringCase("ΑΒΓ", "αβγ"));
  EXPECT_TRUE(FileNamesEqualIgnoringCase("ПРИВЕТ", "привет"));
  EXPECT_TRUE(FileNamesEqualIgnoringCase("ŁÓDŹ", "łódź"));
  EXPECT_FALSE(FileNamesEqualIgnoringCase("john", "johnny"));
  EXPECT_FALSE(FileNamesEqualIgnoringCase("a", "b"));
}

}  // namespace
}  // namespace kvx

namespace kvx {
namespace {

TEST(ModuleName, APathThatDoesNotFitTheBufferIsRefused) {
  // "Z:" plus the path: 259 characters fit, 260 do not.
  const std::string fits = "/" + std::string(256, 'a');
  EXPECT_EQ(ModuleNameFromNative(fits).size(), 259u);
  EXPECT_EQ(ModuleNameFromNative(fits + "a"), "");
  // Counted in UTF-16 units: a character beyond the BMP counts twice.
  EXPECT_EQ(ModuleNameFromNative("/" + std::string(255, 'a') + "\xF0\x9F\x98\x80"), "");
  EXPECT_EQ(ModuleNameFromNative("/" + std::string(254, 'a') + "\xF0\x9F\x98\x80").size(), 261u);
  EXPECT_EQ(ModuleNameFromNative("relative"), "");
}

}  // namespace
}  // namespace kvx
