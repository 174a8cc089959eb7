#include "app/path_resolution.h"

#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class PathResolutionTest : public FlashFixture {};

TEST_F(PathResolutionTest, AccountAndPersistFolders) {
  MakeDirs(Vol("QUARLE.000"));
  MakeDirs(Vol("QUARLE.SYS"));
  std::string path;
  ASSERT_TRUE(GetUserFolderPathEx(ctx_, path));
  EXPECT_EQ(path, "~:\\QUARLE.000");
  EXPECT_TRUE(debug_.Has("the strUserFolderPath is ~:\\QUARLE.000"));
  ASSERT_TRUE(GetCurrentUserPath(ctx_, "john", path));
  EXPECT_EQ(path, "~:\\QUARLE.000\\john");
  ASSERT_TRUE(GetPersistFolderPath(ctx_, path));
  EXPECT_EQ(path, "~:\\QUARLE.SYS\\persist");
  EXPECT_TRUE(debug_.Has("After change The SysRootPath is ~:\\QUARLE.SYS"));
}

TEST_F(PathResolutionTest, ARootEndingInABackslashGetsNoSecondOne) {
  MakeDirs(Vol("DATA"));
  MakeDirs(Vol("SYS"));
  Put("quarle.idx", "x\n/SYS\\\n/DATA\\\n");
  std::string path;
  ASSERT_TRUE(GetCurrentUserPath(ctx_, "john", path));
  EXPECT_EQ(path, "~:\\DATA\\john");
  ASSERT_TRUE(GetPersistFolderPath(ctx_, path));
  EXPECT_EQ(path, "~:\\SYS\\persist");
}

TEST_F(PathResolutionTest, NamesThatLeaveTheUserFolderAreRefused) {
  MakeDirs(Vol("QUARLE.000"));
  for (const char* name : {"..\\x", "a/b", "c:x", ".", "..", "..\\..\\Windows"}) {
    std::string path = "untouched";
    EXPECT_FALSE(GetCurrentUserPath(ctx_, name, path)) << name;
    EXPECT_EQ(path, "untouched");
  }
  std::string path;
  EXPECT_TRUE(GetCurrentUserPath(ctx_, "", path));  // the user folder and a separator
  EXPECT_EQ(path, "~:\\QUARLE.000\\");
  EXPECT_TRUE(GetCurrentUserPath(ctx_, "Jörg ..x", path));
}

TEST_F(PathResolutionTest, NoRootsMeansFalse) {
  std::string path = "untouched";
  EXPECT_FALSE(GetUserFolderPathEx(ctx_, path));
  EXPECT_TRUE(debug_.Has("enter to GetRootPathEx.... "));
  EXPECT_FALSE(GetCurrentUserPath(ctx_, "john", path));
  EXPECT_EQ(path, "untouched");
  EXPECT_FALSE(GetPersistFolderPath(ctx_, path));
  EXPECT_EQ(path, "~:");
}

}  // namespace
}  // namespace kvx
