#include "flash/persistent_copy.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "platform/posix/named_objects_posix.h"
#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class CopyTest : public FlashFixture {
 protected:
  CopyTest() : pc_(machine_ / "pc") {
    MakeDirs(Vol("QUARLE.000/user"));
    MakeDirs(pc_);
  }
  std::vector<std::string> Rates() const {
    std::vector<std::string> rates;
    const std::string prefix = "The Finish Rate of CopyPersistentData is ";
    for (const std::string& l : debug_.lines)
      if (l.rfind(prefix, 0) == 0) rates.push_back(l.substr(prefix.size()));
    return rates;
  }
  std::string pc_;
};

TEST_F(CopyTest, AThreeMebibyteFilePublishesThirds) {
  Put("QUARLE.000/user/big.bin", std::string(3 << 20, 'b'));
  // The progress mapping, created by the program that watches it.
  PosixNamedObjects objects(machine_ / "objects");
  MakeDirs(machine_ / "objects");
  bool existed;
  auto mapping = objects.CreateFileMapping(kProgressMappingName, 4096, &existed);
  ASSERT_NE(mapping, nullptr);
  ToolContext ctx{files_, debug_, profile_, *xml_, state_, flash_, objects, message_box_, process_, strings_};
  EXPECT_TRUE(CopyPersistentData(ctx, "Z:" + pc_));
  EXPECT_EQ(Rates(), (std::vector<std::string>{"33", "66", "100"}));
  auto view = mapping->MapView(1024);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(view->data()), 8), std::string("1\0" "0\0" "0\0\0\0", 8));
  EXPECT_EQ(ReadFile(pc_ + "/big.bin").size(), 3u << 20);
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "Export", "EndFlash"}));
  EXPECT_EQ(state_.progress, nullptr);  // closed after the copy
}

TEST_F(CopyTest, EmptyFilesPublishNothingAndDotFilesAndFoldersStay) {
  Put("QUARLE.000/user/a.txt", "");
  Put("QUARLE.000/user/b c ä.txt", "");
  Put("QUARLE.000/user/.profile", "hidden");
  MakeDirs(Vol("QUARLE.000/user/sub"));
  EXPECT_TRUE(CopyPersistentData(ctx_, "Z:" + pc_ + "/"));
  EXPECT_TRUE(Rates().empty());
  EXPECT_EQ(access((pc_ + "/a.txt").c_str(), F_OK), 0);
  EXPECT_EQ(access((pc_ + "/b c ä.txt").c_str(), F_OK), 0);
  EXPECT_NE(access((pc_ + "/.profile").c_str(), F_OK), 0);
  EXPECT_NE(access((pc_ + "/sub").c_str(), F_OK), 0);
}

TEST_F(CopyTest, AMissingDestinationFailsEveryFileButClosesTheCycle) {
  Put("QUARLE.000/user/a.txt", "a");
  EXPECT_FALSE(CopyPersistentData(ctx_, "Z:" + pc_ + "/missing"));
  EXPECT_TRUE(debug_.Has("The DstFile(Z:" + pc_ + "/missing\\a.txt), Opened Failed."));
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "Export", "EndFlash"}));
}

TEST_F(CopyTest, NoCycleOrNoUserFolder) {
  flash_.begin_ok = false;
  EXPECT_FALSE(CopyPersistentData(ctx_, "Z:" + pc_));
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash"}));
  flash_.begin_ok = true;
  flash_.calls.clear();
  RemoveTree(Vol("QUARLE.000/user"));
  EXPECT_FALSE(CopyPersistentData(ctx_, "Z:" + pc_));  // the user subfolder is missing
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "Export", "EndFlash"}));
  RemoveTree(Vol("QUARLE.000"));
  flash_.calls.clear();
  EXPECT_FALSE(CopyPersistentData(ctx_, "Z:" + pc_));
  EXPECT_TRUE(debug_.Has("GetUserFolderPathEx Failed!"));
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "EndFlash"}));
}

TEST_F(CopyTest, ACopyThatFailsPartWayKeepsTheOldFileAndIsReported) {
  Put("QUARLE.000/user/a.bin", std::string(2 << 20, 'a'));
  Put("QUARLE.000/user/small.txt", "new small");
  WriteFile(pc_ + "/a.bin", "old copy");
  {
    VolumeFullAt full(1 << 20);
    EXPECT_FALSE(CopyPersistentData(ctx_, "Z:" + pc_));
  }
  EXPECT_EQ(ReadFile(pc_ + "/a.bin"), "old copy");
  EXPECT_EQ(ReadFile(pc_ + "/small.txt"), "new small");  // the other files still come
  EXPECT_NE(access((pc_ + "/a.bin.kvxtmp").c_str(), F_OK), 0);
  EXPECT_EQ(Get("QUARLE.000/user/a.bin").size(), 2u << 20);  // the source is untouched

  // The same on the flash: the action keeps the old file and says so.
  const std::string tool = machine_ / "tool";
  MakeDirs(tool);
  WriteFile(tool + "/big.dat", std::string(2 << 20, 't'));
  process_.module = PathMap::ToWindows(tool) + "\\QZRRemote";
  Put("QUARLE.000/user/big.dat", "old flash file");
  {
    VolumeFullAt full(1 << 20);
    EXPECT_FALSE(DoCopyPersistentData(ctx_, "x"));
  }
  EXPECT_EQ(Get("QUARLE.000/user/big.dat"), "old flash file");
  EXPECT_NE(access(Vol("QUARLE.000/user/big.dat.kvxtmp").c_str(), F_OK), 0);
}

TEST_F(CopyTest, ACopyOntoItsOwnSourceIsRefusedAndLosesNothing) {
  Put("QUARLE.000/user/notes.txt", "notes");
  Put("QUARLE.000/user/photo.jpg", std::string(3000, 'p'));
  symlink(Vol("QUARLE.000/user").c_str(), (pc_ + "/link").c_str());
  for (const std::string& same : {std::string("~:\\QUARLE.000\\user"), std::string("~:/quarle.000/./USER/"),
                                  "Z:" + pc_ + "/link"}) {
    flash_.calls.clear();
    EXPECT_FALSE(CopyPersistentData(ctx_, same)) << same;
    EXPECT_EQ(flash_.calls, (std::vector<std::string>{"BeginFlash", "EndFlash"})) << same;
    EXPECT_EQ(Get("QUARLE.000/user/notes.txt"), "notes") << same;
    EXPECT_EQ(Get("QUARLE.000/user/photo.jpg"), std::string(3000, 'p')) << same;
  }
  // The action run from the user subfolder itself copies nothing either.
  process_.module = "~:\\QUARLE.000\\USER\\QZRRemote";
  EXPECT_FALSE(DoCopyPersistentData(ctx_, "x"));
  EXPECT_EQ(Get("QUARLE.000/user/notes.txt"), "notes");
  EXPECT_EQ(Get("QUARLE.000/user/photo.jpg"), std::string(3000, 'p'));
}

TEST_F(CopyTest, LeftoversOfAnInterruptedRunAreRemovedAndNeverCopied) {
  Put("QUARLE.000/user/a.txt", "a");
  Put("QUARLE.000/user/b.txt.kvxtmp", "half a file");
  WriteFile(pc_ + "/a.txt.kvxtmp", "half");
  WriteFile(pc_ + "/mine.txt", "the user's own");
  EXPECT_TRUE(CopyPersistentData(ctx_, "Z:" + pc_));
  EXPECT_EQ(ReadFile(pc_ + "/a.txt"), "a");
  EXPECT_EQ(ReadFile(pc_ + "/mine.txt"), "the user's own");
  EXPECT_NE(access((pc_ + "/a.txt.kvxtmp").c_str(), F_OK), 0);
  EXPECT_NE(access((pc_ + "/b.txt.kvxtmp").c_str(), F_OK), 0);
  EXPECT_NE(access((pc_ + "/b.txt").c_str(), F_OK), 0);
  // Nor does the reset take one from the persistent-settings folder.
  PutAccount("john", "[john]\r\n");
  Put("QUARLE.SYS/persist/set.cfg", "s");
  Put("QUARLE.SYS/persist/set.cfg.KVXTMP", "half");
  Put("QUARLE.000/john/old.kvxtmp", "half");
  EXPECT_TRUE(DoResetUserCmd(ctx_, "john"));
  EXPECT_EQ(Get("QUARLE.000/john/set.cfg"), "s");
  EXPECT_NE(access(Vol("QUARLE.000/john/set.cfg.KVXTMP").c_str(), F_OK), 0);
  EXPECT_NE(access(Vol("QUARLE.000/john/old.kvxtmp").c_str(), F_OK), 0);
}

TEST(CopyPercentage, CountsIn64Bits) {
  const uint64_t five_gib = 5ull << 30;
  EXPECT_EQ(CopyPercentage(five_gib / 2, five_gib), 50);
  EXPECT_EQ(CopyPercentage(five_gib, five_gib), 100);
  EXPECT_EQ(CopyPercentage(1 << 20, five_gib), 0);
  EXPECT_EQ(CopyPercentage(0, 0), -1);
}

TEST_F(CopyTest, TheToolFolderGoesToTheUserSubfolderButItsOwnFiles) {
  const std::string tool = machine_ / "tool";
  MakeDirs(tool);
  for (const char* name : {"QZRRemote", "QZRRemote.log", "KVXRemoteCmd.xsd", "a.exe", "notes.logbook.txt",
                           "SETUP.XML", "readme.txt", "x.xml.bak"})
    WriteFile(tool + "/" + name, name);
  process_.module = "Z:" + tool + "\\QZRRemote";
  for (char& c : process_.module)
    if (c == '/') c = '\\';
  EXPECT_TRUE(DoCopyPersistentData(ctx_, "ignored"));
  EXPECT_EQ(Get("QUARLE.000/user/SETUP.XML"), "SETUP.XML");
  EXPECT_EQ(Get("QUARLE.000/user/readme.txt"), "readme.txt");
  for (const char* name : {"QZRRemote", "QZRRemote.log", "KVXRemoteCmd.xsd", "a.exe", "notes.logbook.txt",
                           "x.xml.bak"})
    EXPECT_NE(access(Vol(std::string("QUARLE.000/user/") + name).c_str(), F_OK), 0) << name;
  process_.module = "";
  EXPECT_FALSE(DoCopyPersistentData(ctx_, "x"));
}

TEST_F(CopyTest, ResetFillsTheAccountFromThePersistFolder) {
  PutAccount("john", "[john]\r\nRestoreKeyboardID=1\r\nRestoreLanguageID=2\r\n");
  Put("QUARLE.SYS/persist/.profile", "p");
  Put("QUARLE.SYS/persist/bookmarks.html", "b");
  MakeDirs(Vol("QUARLE.SYS/persist/subfolder"));
  EXPECT_TRUE(DoResetUserCmd(ctx_, "john"));
  EXPECT_EQ(Get("QUARLE.000/john/.profile"), "p");
  EXPECT_EQ(Get("QUARLE.000/john/bookmarks.html"), "b");
  EXPECT_NE(access(Vol("QUARLE.000/john/subfolder").c_str(), F_OK), 0);
  EXPECT_NE(Get("QUARLE.000/john/kvxaccount.ini").find("KeyboardID=\"1\""), std::string::npos);
  EXPECT_EQ(flash_.calls, (std::vector<std::string>{"Export"}));
  // Without the persist folder the INI file is still reset.
  PutAccount("mary", "[mary]\r\nRestoreKeyboardID=7\r\n");
  RemoveTree(Vol("QUARLE.SYS"));
  EXPECT_FALSE(DoResetUserCmd(ctx_, "mary"));
  EXPECT_NE(Get("QUARLE.000/mary/kvxaccount.ini").find("KeyboardID=\"7\""), std::string::npos);
}

TEST_F(CopyTest, ClearFolderNeverLeavesTheFolder) {
  const std::string outside = machine_ / "outside";
  MakeDirs(outside);
  WriteFile(outside + "/keep.txt", "keep");
  Put("QUARLE.000/john/a/b/c.txt", "c");
  Put("QUARLE.000/john/ro.txt", "r");
  chmod(Vol("QUARLE.000/john/ro.txt").c_str(), 0444);
  symlink(outside.c_str(), Vol("QUARLE.000/john/link").c_str());
  symlink((outside + "/keep.txt").c_str(), Vol("QUARLE.000/john/filelink").c_str());
  symlink(Vol("QUARLE.000/john/a").c_str(), Vol("QUARLE.000/john/a/b/loop").c_str());
  EXPECT_TRUE(ClearFolder(ctx_, "~:\\QUARLE.000\\john"));
  std::vector<FindEntry> left;
  files_.FindFiles("~:\\QUARLE.000\\john\\*", left);
  EXPECT_EQ(left.size(), 2u);  // "." and ".."
  EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep");
  EXPECT_TRUE(ClearFolder(ctx_, "~:\\nothing\\here"));
  EXPECT_FALSE(ClearFolder(ctx_, "~:\\"));
  EXPECT_NE(access(Vol("QUARLE.000").c_str(), F_OK), -1);
}

}  // namespace
}  // namespace kvx
