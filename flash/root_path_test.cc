#include "flash/root_path.h"

#include <sys/stat.h>

#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class RootPathTest : public FlashFixture {
 protected:
  std::string Data(bool expect) {
    std::string out = "unset";
    EXPECT_EQ(GetRootPathFromDataPath(ctx_, out), expect);
    return out;
  }
  std::string Sys(bool expect) {
    std::string out = "unset";
    EXPECT_EQ(GetRootPathFromSysPath(ctx_, out), expect);
    return out;
  }
};

TEST_F(RootPathTest, TheIndexNamesBothRoots) {
  Put("quarle.idx", "x\r\n/SYSA\r\n/DATAB\r\n");
  MakeDirs(Vol("SYSA"));
  MakeDirs(Vol("DATAB"));
  MakeDirs(Vol("QUARLE.000"));
  EXPECT_EQ(Sys(true), "~:\\SYSA");
  EXPECT_EQ(Data(true), "~:\\DATAB");
  EXPECT_TRUE(debug_.Has("The volume is ~: "));
  EXPECT_TRUE(debug_.Has("The idx Path is ~:\\quarle.idx"));
  EXPECT_TRUE(debug_.Has("The wsPath is ~:/DATAB"));
  EXPECT_TRUE(debug_.Has("The wsPath is ~:\\DATAB"));
  EXPECT_TRUE(debug_.Has("The  path  ~:\\DATAB  is 1"));
  EXPECT_EQ(debug_.lines.back(), "GetRootPathFromDataPath function is ~:\\DATAB");
}

TEST_F(RootPathTest, OnlyTheFirstSlashTurns) {
  Put("quarle.idx", "\n\n/QUARLE.000/sub\n");
  MakeDirs(Vol("QUARLE.000/sub"));
  EXPECT_EQ(Data(true), "~:\\QUARLE.000/sub");
}

TEST_F(RootPathTest, EmptyLinesCountAndShortIndexesFallBack) {
  MakeDirs(Vol("QUARLE.000"));
  MakeDirs(Vol("D"));
  Put("quarle.idx", "x\n\n/D\n");
  EXPECT_EQ(Data(true), "~:\\D");
  Put("quarle.idx", "x\n/SYS\n");
  EXPECT_EQ(Data(true), "~:\\QUARLE.000");
  EXPECT_TRUE(debug_.Has("The read line index is : 2, should be 3"));
  Put("quarle.idx", "");
  EXPECT_EQ(Data(true), "~:\\QUARLE.000");
  EXPECT_TRUE(debug_.Has("The read line index is : 0, should be 3"));
}

TEST_F(RootPathTest, NoIndexAndNoFallbackGivesTheFlashRoot) {
  EXPECT_EQ(Data(false), "~:");
  EXPECT_TRUE(debug_.Has("Can not find the idx file"));
  EXPECT_TRUE(debug_.Has("_waccess return Error, and the error number is 2"));
  MakeDirs(Vol("QUARLE.SYS"));
  EXPECT_EQ(Sys(true), "~:\\QUARLE.SYS");
}

TEST_F(RootPathTest, MissingFoldersFilesAndOddLinesOfTheIndex) {
  MakeDirs(Vol("QUARLE.000"));
  Put("quarle.idx", "x\ny\n/NOWHERE\n");
  EXPECT_EQ(Data(true), "~:\\QUARLE.000");
  EXPECT_TRUE(debug_.Has("The  path  ~:\\NOWHERE  is 0"));
  // A file passes the existence test like a folder.
  Put("afile", "x");
  Put("quarle.idx", "x\ny\n/afile\n");
  EXPECT_EQ(Data(true), "~:\\afile");
  // A line without "/" is tested as it stands.
  MakeDirs(Vol("PLAIN"));
  Put("quarle.idx", "x\ny\nPLAIN\n");
  EXPECT_EQ(Data(true), "~:PLAIN");
  // CR-only line ends make one line; there is no line 3.
  Put("quarle.idx", "x\r/SYS\r/DATA\r");
  EXPECT_EQ(Data(true), "~:\\QUARLE.000");
  EXPECT_TRUE(debug_.Has("The read line index is : 1, should be 3"));
  // Binary garbage names nothing that exists...
  Put("quarle.idx", std::string("\x01\xff\x00/x\n\xfe\n\x01\xfe\x7f/\n", 13));
  EXPECT_EQ(Data(true), "~:\\QUARLE.000");
  // ...unless its third line reads as empty: the text ends at a NUL, and an
  // empty line names the top of the volume.
  Put("quarle.idx", std::string("\x01\n\xfe\n\x00\x00\n", 7));
  EXPECT_EQ(Data(true), "~:");
}

TEST_F(RootPathTest, ALongLineIsReadInRunsOf1023) {
  MakeDirs(Vol("QUARLE.000"));
  MakeDirs(Vol("D"));
  // Line 1 is 2045 characters and its line end: it reads as lines 1 and 2,
  // so line 3 is /D.
  Put("quarle.idx", std::string(2045, 'a') + "\n/D\n");
  EXPECT_EQ(Data(true), "~:\\D");
  Put("quarle.idx", std::string(1 << 20, 'a') + "\n");
  EXPECT_EQ(Data(true), "~:\\QUARLE.000");
}

TEST_F(RootPathTest, RootsThatDoNotFit255CharactersAreRefused) {
  MakeDirs(Vol("QUARLE.000"));
  const std::string name(250, 'n');
  MakeDirs(Vol(name + "/" + name));
  Put("quarle.idx", "x\ny\n/" + name + "/" + name + "\n");
  EXPECT_EQ(Data(true), "~:\\QUARLE.000");
}

TEST_F(RootPathTest, AnIndexThatCannotBeReadNamesNothing) {
  MakeDirs(Vol("QUARLE.000"));
  MakeDirs(Vol("quarle.idx"));  // a folder where the index would be
  EXPECT_EQ(Data(true), "~:\\QUARLE.000");
}

TEST_F(RootPathTest, WithoutAFlashCycleTheTopOfTheCurrentDriveIsSearched) {
  state_.flash_root.clear();
  std::string out = "unset";
  GetRootPathFromDataPath(ctx_, out);
  EXPECT_TRUE(debug_.Has("The idx Path is \\quarle.idx"));
}

}  // namespace
}  // namespace kvx
