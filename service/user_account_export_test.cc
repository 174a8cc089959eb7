#include "service/user_account_export.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class ExportTest : public FlashFixture {
 protected:
  std::vector<std::string> Names(bool include_all) {
    CUserAccountExport e(ctx_);
    e.ExportLocalAccountsLogonedEver("~:", "kvxaccount.ini", include_all);
    std::vector<std::string> names;
    for (const AccountEntry& a : e.accounts()) names.push_back(a.name);
    default_user_ = e.GetDefaultUser();
    return names;
  }
  std::string default_user_;
};

TEST_F(ExportTest, AccountsAreFirstSectionsInFolderOrder) {
  PutAccount("mary", "[Mary]\r\nLanguageID=0407\r\n");
  PutAccount("john", "[john]\r\nLanguageID=0409\r\n[Other]\r\n");
  SetTime("QUARLE.000/john/kvxaccount.ini", 2000);
  SetTime("QUARLE.000/mary/kvxaccount.ini", 1000);
  CUserAccountExport e(ctx_);
  e.ExportLocalAccountsLogonedEver("~:", "kvxaccount.ini", false);
  ASSERT_EQ(e.accounts().size(), 2u);
  EXPECT_EQ(e.accounts()[0].name, "john");
  EXPECT_EQ(e.accounts()[0].folder, "~:\\QUARLE.000\\john");
  EXPECT_EQ(e.accounts()[1].name, "Mary");
  EXPECT_EQ(e.GetDefaultUser(), "john");  // written last
  std::vector<std::string> folders;
  e.GetAccountFolders(folders);
  EXPECT_EQ(folders, (std::vector<std::string>{"~:\\QUARLE.000\\john", "~:\\QUARLE.000\\mary"}));
  // Nothing is left in the temp folder.
  std::vector<FindEntry> left;
  files_.FindFiles(files_.TempFolder() + "*", left);
  for (const FindEntry& f : left) EXPECT_TRUE(f.name == "." || f.name == "..") << f.name;
}

TEST_F(ExportTest, TheUnusedDefaultAccountIsLeftOutUnlessAllAreAsked) {
  PutAccount("User", "[User]\r\nFirstTime=0\r\n");
  PutAccount("NoKey", "[User]\r\nLanguageID=1\r\n");
  PutAccount("lower", "[user]\r\nFirstTime=0\r\n");
  PutAccount("Used", "[User]\r\nFirstTime=1\r\n");
  EXPECT_EQ(Names(false), (std::vector<std::string>{"user", "User"}));
  EXPECT_EQ(Names(true), (std::vector<std::string>{"user", "User", "User", "User"}));
}

TEST_F(ExportTest, UnreadableAccountFilesAreSkipped) {
  PutAccount("good", "[good]\r\n");
  Put("QUARLE.000/empty/kvxaccount.ini", "");
  Put("QUARLE.000/onlymark/kvxaccount.ini", "\xEF\xBB\xBF");
  Put("QUARLE.000/nosections/kvxaccount.ini", Utf8Marked("a=1\r\n"));
  Put("QUARLE.000/huge/kvxaccount.ini", Utf8Marked("[huge]\r\n" + std::string(1 << 20, ';')));
  MakeDirs(Vol("QUARLE.000/nofile"));
  Put("QUARLE.000/file-not-folder", "[x]");
  Put("QUARLE.000/utf16/kvxaccount.ini", std::string("\xFF\xFE[\0u\0]\0", 8));
  Put("QUARLE.000/bad8/kvxaccount.ini", "[b\xff" "d]\r\n");
  EXPECT_EQ(Names(true), (std::vector<std::string>{"b\xEF\xBF\xBD" "d", "good"}));
}

TEST_F(ExportTest, NoAccountFolder) {
  EXPECT_TRUE(Names(true).empty());
  EXPECT_TRUE(debug_.Has("Failed to enum files!"));
  EXPECT_EQ(default_user_, "");
  std::string path = "~:";
  CUserAccountExport(ctx_).GetUserSettingsPath(path);
  EXPECT_EQ(path, "~:\\QUARLE.000");
  MakeDirs(Vol("QUARLE.000"));
  path = "~:";
  CUserAccountExport(ctx_).GetUserSettingsPath(path);
  EXPECT_EQ(path, "~:\\QUARLE.000\\");
}

TEST_F(ExportTest, UnicodeNamesAndManyAccounts) {
  for (int i = 0; i < 50; ++i) PutAccount("acc" + std::to_string(100 + i), "[Konto" + std::to_string(i) + "]\r\n");
  PutAccount("Jörg", "[Jörg 中文]\r\n");
  const std::vector<std::string> names = Names(true);
  ASSERT_EQ(names.size(), 51u);
  EXPECT_EQ(names[0], "Konto0");
  EXPECT_EQ(names[50], "Jörg 中文");
}

}  // namespace
}  // namespace kvx

namespace kvx {
namespace {

using namespace kvx::testing;

TEST_F(FlashFixture, WorkingCopiesLeftByAnInterruptedRunAreRemovedAndNothingElse) {
  const std::string temp = ctx_.files.TempFolder();
  std::string native;
  ASSERT_TRUE(paths_.ToNative(temp, native));
  const std::string outside = machine_ / "outside.tmp";
  ASSERT_TRUE(WriteFile(outside, "not ours"));
  for (const char* name : {"QZR1A2B.tmp", "qzrFFFF.TMP", "QZR7.tmp.keep", "other.tmp", "QZRro.tmp",
                           "QZR3C.tmp.kvxtmp", "kvxaccount.ini.kvxtmp"}) {
    ASSERT_TRUE(WriteFile(native + "/" + name, name));
  }
  chmod((native + "/QZRro.tmp").c_str(), 0444);
  MakeDirs(native + "/QZRdir.tmp");
  ASSERT_EQ(symlink(outside.c_str(), (native + "/QZRlink.tmp").c_str()), 0);

  RemoveLeftoverWorkingCopies(ctx_);

  for (const char* gone : {"QZR1A2B.tmp", "qzrFFFF.TMP", "QZRlink.tmp", "QZR3C.tmp.kvxtmp",
                           "kvxaccount.ini.kvxtmp"}) {
    struct stat st;
    EXPECT_NE(lstat((native + "/" + gone).c_str(), &st), 0) << gone;
  }
  for (const char* kept : {"QZR7.tmp.keep", "other.tmp", "QZRro.tmp", "QZRdir.tmp"}) {
    EXPECT_TRUE(std::filesystem::exists(native + "/" + kept)) << kept;
  }
  EXPECT_EQ(ReadFile(outside), "not ours");  // the link went, not what it named
}

}  // namespace
}  // namespace kvx
