#include "service/account_ini.h"

#include <sys/stat.h>

#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class AccountIniTest : public FlashFixture {};

const char kJohn[] =
    "[john]\r\nDataFolder=~:\\QUARLE.000\\john\\data\r\nPassword=secret\r\nUserImage=john.png\r\n"
    "IndexFile=john.idx\r\nFirstPageType=2\r\nKeyboardID=00000407\r\nRestoreKeyboardID=00000409\r\n"
    "FirstTime=0\r\nPFLDR=p\r\nLanguageID=0407\r\nRestoreLanguageID=0409\r\nMAIL=0\r\n";
const char kMary[] = "[mary]\r\nPassword=pw\r\nLanguageID=0410\r\n";

TEST_F(AccountIniTest, TheCombinedFileHoldsEveryAccount) {
  PutAccount("john", kJohn);
  PutAccount("mary", kMary);
  SetTime("QUARLE.000/john/kvxaccount.ini", 1000);
  SetTime("QUARLE.000/mary/kvxaccount.ini", 2000);  // written last: the default
  const std::string john_before = Get("QUARLE.000/john/kvxaccount.ini");
  WriteAccountINIForRemote(ctx_);
  EXPECT_EQ(Get("kvxaccounts.ini"),
            Utf8Marked("[General]\r\nDefaultUser=mary\r\nResolution=1024x768\r\nOutlookLanguage=0410\r\n"
                       "[john]\r\nDataFolder=~:\\QUARLE.000\\john\\data\r\nPassword=secret\r\n"
                       "UserImage=john.png\r\nIndexFile=john.idx\r\nFirstPageType=2\r\n"
                       "KeyboardID=00000407\r\nRestoreKeyboardID=00000409\r\nFirstTime=0\r\nPFLDR=p\r\n"
                       "LanguageID=0407\r\nRestoreLanguageID=0409\r\n"
                       "[mary]\r\nDataFolder=\r\nPassword=pw\r\nUserImage=\r\nIndexFile=\r\n"
                       "FirstPageType=0\r\nKeyboardID=\r\nRestoreKeyboardID=\r\nFirstTime=1\r\nPFLDR=\r\n"
                       "LanguageID=0410\r\nRestoreLanguageID=\r\n"));
  // The accounts' own files are as they were, and no working copy is left.
  EXPECT_EQ(Get("QUARLE.000/john/kvxaccount.ini"), john_before);
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.000\\john\\kvxaccount_unicode.ini"), kInvalidAttributes);
  EXPECT_EQ(files_.GetAttributes(files_.TempFolder() + "kvxaccounts.ini"), kInvalidAttributes);
  EXPECT_EQ(debug_.lines.front(),
            std::string(35, '=') + "Enter WriteAccountINIForRemote" + std::string(26, '='));
  EXPECT_TRUE(debug_.Has("The Defualt User of accounts is mary."));
  EXPECT_TRUE(debug_.Has("Password = secret"));
  EXPECT_EQ(debug_.lines.back(),
            std::string(35, '=') + "Leave WriteAccountINIForRemote" + std::string(26, '='));
}

TEST_F(AccountIniTest, NoAccountsLeaveOnlyTheGeneralSection) {
  WriteAccountINIForRemote(ctx_);
  EXPECT_EQ(Get("kvxaccounts.ini"), Utf8Marked("[General]\r\nDefaultUser=\r\nResolution=1024x768\r\n"));
}

TEST_F(AccountIniTest, AReadOnlyCombinedFileIsOpenedUpAndReplaced) {
  PutAccount("john", kMary);
  Put("kvxaccounts.ini", "stale");
  chmod(Vol("kvxaccounts.ini").c_str(), 0444);
  WriteAccountINIForRemote(ctx_);
  EXPECT_TRUE(debug_.Has("An error occer when copy ini file"));
  EXPECT_TRUE(debug_.Has("ACCESS_DENIED when copy ini file"));
  EXPECT_TRUE(debug_.Has("Copy accounts.ini file Successful"));
  EXPECT_EQ(Get("kvxaccounts.ini").substr(0, 12), "\xEF\xBB\xBF[General]");
}

TEST_F(AccountIniTest, ResetRestoresKeyboardAndLanguageAndAllowsEverything) {
  PutAccount("john", kJohn);
  PutAccount("mary", kMary);
  const std::string mary_before = Get("QUARLE.000/mary/kvxaccount.ini");
  EXPECT_TRUE(ResetAccountIni(ctx_, "~:\\QUARLE.000\\john\\kvxaccount.ini", "john"));
  EXPECT_EQ(Get("QUARLE.000/john/kvxaccount.ini"),
            Utf8Marked("[john]\r\nDataFolder=~:\\QUARLE.000\\john\\data\r\nPassword=secret\r\n"
                       "UserImage=john.png\r\nIndexFile=john.idx\r\nFirstPageType=2\r\n"
                       "KeyboardID=\"00000409\"\r\nRestoreKeyboardID=00000409\r\nFirstTime=0\r\nPFLDR=p\r\n"
                       "LanguageID=\"0409\"\r\nRestoreLanguageID=0409\r\nMAIL=1\r\nWEB=1\r\nCHAT=1\r\n"
                       "VOIP=1\r\nRDESKTOP=1\r\nICACLIENT=1\r\nVMWARE=1\r\nPHOTO=1\r\nMUSIC=1\r\n"));
  EXPECT_EQ(Get("QUARLE.000/mary/kvxaccount.ini"), mary_before);
  EXPECT_EQ(files_.GetAttributes(files_.TempFolder() + "kvxaccount.ini"), kInvalidAttributes);
}

TEST_F(AccountIniTest, AccessSettingsWriteTheNineSwitches) {
  PutAccount("mary", kMary);
  const int flags[9] = {0, 1, 0, 1, 1, 1, 1, 1, 0};
  EXPECT_TRUE(WriteAccessSettings(ctx_, "~:\\QUARLE.000\\mary\\kvxaccount.ini", flags, "mary"));
  EXPECT_EQ(Get("QUARLE.000/mary/kvxaccount.ini"),
            Utf8Marked("[mary]\r\nPassword=pw\r\nLanguageID=0410\r\nMAIL=0\r\nWEB=1\r\nCHAT=0\r\n"
                       "VOIP=1\r\nRDESKTOP=1\r\nICACLIENT=1\r\nVMWARE=1\r\nPHOTO=1\r\nMUSIC=0\r\n"));
}

// Files the converters do not take are edited as they are, as the profile
// functions edit them (the differential corpus holds both against Wine's).
TEST_F(AccountIniTest, FilesTheConvertersDoNotTakeAreEditedAsTheyAre) {
  const std::string switches =
      "MAIL=0\r\nWEB=1\r\nCHAT=0\r\nVOIP=1\r\nRDESKTOP=1\r\nICACLIENT=1\r\nVMWARE=1\r\nPHOTO=1\r\nMUSIC=0\r\n";
  std::string notes = "[notes]\r\n";
  while (notes.size() < 2621440) notes += "Note=012345678901234567890123456789012345678901234567890123456\r\n";
  const struct {
    std::string name, before, after;
  } cases[] = {
      {"zero", "", "[zero]\r\n" + switches},
      {"big", Utf8Marked("[big]\r\nMAIL=1\r\n" + notes),
       Utf8Marked("[big]\r\n" + switches + notes)},
  };
  const int flags[9] = {0, 1, 0, 1, 1, 1, 1, 1, 0};
  for (const auto& c : cases) {
    Put("QUARLE.000/" + c.name + "/kvxaccount.ini", c.before);
    EXPECT_TRUE(WriteAccessSettings(ctx_, "~:\\QUARLE.000\\" + c.name + "\\kvxaccount.ini", flags, c.name))
        << c.name;
    EXPECT_TRUE(Get("QUARLE.000/" + c.name + "/kvxaccount.ini") == c.after) << c.name;
  }
}

TEST_F(AccountIniTest, AMissingAccountFileIsLeftMissing) {
  MakeDirs(Vol("QUARLE.000/ghost"));
  const int flags[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_TRUE(WriteAccessSettings(ctx_, "~:\\QUARLE.000\\ghost\\kvxaccount.ini", flags, "ghost"));
  EXPECT_TRUE(ResetAccountIni(ctx_, "~:\\QUARLE.000\\ghost\\kvxaccount.ini", "ghost"));
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.000\\ghost\\kvxaccount.ini"), kInvalidAttributes);
}

TEST_F(AccountIniTest, MarkFirstTimeSetsTheUserSection) {
  PutAccount("User", "[User]\r\nFirstTime=0\r\nLanguageID=0409\r\n");
  MarkFirstTime(ctx_, "~:\\QUARLE.000\\User\\kvxaccount.ini");
  EXPECT_EQ(Get("QUARLE.000/User/kvxaccount.ini"),
            Utf8Marked("[User]\r\nFirstTime=1\r\nLanguageID=0409\r\n"));
  PutAccount("john", "[john]\r\n");
  MarkFirstTime(ctx_, "~:\\QUARLE.000\\john\\kvxaccount.ini");
  EXPECT_EQ(Get("QUARLE.000/john/kvxaccount.ini"), Utf8Marked("[john]\r\n[User]\r\nFirstTime=1\r\n"));
}

TEST_F(AccountIniTest, OnlyAWorkingCopyMadeByThisEditIsWrittenBack) {
  const std::string temp = files_.TempFolder() + "kvxaccount.ini";
  const std::string stale = Utf8Marked("[john]\r\nPassword=stale\r\nMAIL=0\r\n");
  const int flags[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  // A folder without an account file gets none from a leftover copy.
  MakeDirs(Vol("QUARLE.000/ghost"));
  MakeDirs(machine_ / "temp");
  WriteFile(machine_ / "temp/kvxaccount.ini", stale);
  EXPECT_TRUE(WriteAccessSettings(ctx_, "~:\\QUARLE.000\\ghost\\kvxaccount.ini", flags, "ghost"));
  EXPECT_NE(access(Vol("QUARLE.000/ghost/kvxaccount.ini").c_str(), F_OK), 0);
  // A read-only leftover is replaced by a fresh copy of john's own file.
  PutAccount("john", kMary);
  WriteFile(machine_ / "temp/kvxaccount.ini", stale);
  chmod((machine_ / "temp/kvxaccount.ini").c_str(), 0444);
  EXPECT_TRUE(ResetAccountIni(ctx_, "~:\\QUARLE.000\\john\\kvxaccount.ini", "mary"));
  const std::string john = Get("QUARLE.000/john/kvxaccount.ini");
  EXPECT_NE(john.find("Password=pw"), std::string::npos) << john;
  EXPECT_NE(john.find("MUSIC=1"), std::string::npos) << john;
  EXPECT_EQ(files_.GetAttributes(temp), kInvalidAttributes);
  // A working copy that cannot be made fresh stops the edit.
  MakeDirs(machine_ / "temp/kvxaccount.ini");
  EXPECT_FALSE(WriteAccessSettings(ctx_, "~:\\QUARLE.000\\john\\kvxaccount.ini", flags, "mary"));
  EXPECT_EQ(Get("QUARLE.000/john/kvxaccount.ini"), john);
}

TEST_F(AccountIniTest, AReadOnlyAccountFileIsNotChanged) {
  PutAccount("User", "[User]\r\nFirstTime=0\r\n");
  chmod(Vol("QUARLE.000/User/kvxaccount.ini").c_str(), 0444);
  const std::string before = Get("QUARLE.000/User/kvxaccount.ini");
  const std::string path = "~:\\QUARLE.000\\User\\kvxaccount.ini";
  const int flags[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_FALSE(MarkFirstTime(ctx_, path));
  EXPECT_FALSE(ResetAccountIni(ctx_, path, "User"));
  EXPECT_FALSE(WriteAccessSettings(ctx_, path, flags, "User"));
  EXPECT_EQ(Get("QUARLE.000/User/kvxaccount.ini"), before);
  EXPECT_EQ(files_.GetAttributes(path) & kAttrReadOnly, kAttrReadOnly);
  EXPECT_EQ(files_.GetAttributes(files_.TempFolder() + "kvxaccount.ini"), kInvalidAttributes);
}

TEST_F(AccountIniTest, AStaleCombinedBuildIsNeverPublished) {
  PutAccount("john", kJohn);
  Put("kvxaccounts.ini", "old combined");
  // A leftover UTF-16 copy in the account folder is not what is read.
  Put("QUARLE.000/john/kvxaccount_unicode.ini", "\xFF\xFE[\0x\0]\0");
  chmod(Vol("QUARLE.000/john/kvxaccount_unicode.ini").c_str(), 0444);
  EXPECT_TRUE(WriteAccountINIForRemote(ctx_));
  EXPECT_NE(Get("kvxaccounts.ini").find("[john]\r\nDataFolder="), std::string::npos);
  EXPECT_NE(access(Vol("QUARLE.000/john/kvxaccount_unicode.ini").c_str(), F_OK), 0);
  // A temp file that cannot be made fresh leaves the old combined file.
  Put("kvxaccounts.ini", "old combined");
  MakeDirs(machine_ / "temp/kvxaccounts.ini");
  EXPECT_FALSE(WriteAccountINIForRemote(ctx_));
  EXPECT_EQ(Get("kvxaccounts.ini"), "old combined");
}

TEST(ProfileBuffer, TextsOf256CharactersAndMoreDoNotFit) {
  EXPECT_TRUE(FitsProfileBuffer(std::string(255, 'a')));
  EXPECT_FALSE(FitsProfileBuffer(std::string(256, 'a')));
  std::string wide, astral;
  for (int i = 0; i < 255; ++i) wide += "中";  // one unit each
  for (int i = 0; i < 128; ++i) astral += "\xF0\x9F\x98\x80";  // two units each
  EXPECT_TRUE(FitsProfileBuffer(wide));
  EXPECT_FALSE(FitsProfileBuffer(astral));
}

}  // namespace
}  // namespace kvx
