#include "app/validate_mode.h"

#include <gtest/gtest.h>

#include "platform/libxml2/xml_dom_libxml2.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace kvx {
namespace {

using namespace kvx::testing;
using Lines = std::vector<std::string>;

// What a run will do with a command file, described in English.
class DescribeTest : public ::testing::Test {
 protected:
  DescribeTest()
      : xml(CreateLibxml2Services([](const std::string& w, std::string& n) {
          n = w;
          return true;
        })) {}

  Lines Describe(const std::string& commands) {
    WriteFile(dir / "c.xml", commands);
    document = xml->CreateDocument(XmlClassVersion::k60);
    EXPECT_TRUE(document->Load(dir / "c.xml")) << document->ParseError().reason;
    return DescribeCommandFile(strings, debug, *document);
  }

  TempDir dir;
  std::unique_ptr<XmlServices> xml;
  std::unique_ptr<XmlDocument> document;
  FakeStrings strings;
  RecordingDebug debug;
};

const Lines kEveryAppOn = {"mail on for every account",      "web on for every account",
                           "chat on for every account",      "voip on for every account",
                           "rdesktop on for every account",  "icaclient on for every account",
                           "vmware on for every account",    "photo on for every account",
                           "music on for every account"};

TEST_F(DescribeTest, AccountCommandsInTheDriversOrderWithTheirCarriedAttributes) {
  // allUser comes after singleUser whatever the file's order; a record
  // without an attribute keeps the one before it; "user" in any case is the
  // default account, which a delete resets.
  EXPECT_EQ(Describe("<remoteCmd>"
                     "<allUser action='resetUser'/>"
                     "<singleUser action='deleteUser' user='john'/>"
                     "<singleUser user='mary'/>"
                     "<singleUser action='changePassword'/>"
                     "<singleUser action='deleteUser' user='USER'/>"
                     "<allUser/>"
                     "</remoteCmd>"),
            (Lines{"delete account john", "delete account mary",
                   "ask account mary for a new password at its next start", "reset account User",
                   "reset every account", "reset every account"}));
}

TEST_F(DescribeTest, WhatWillHaveNoEffectIsNamed) {
  EXPECT_EQ(Describe("<remoteCmd>"
                     "<singleUser action='resetUser'/>"
                     "<singleUser action='ResetUser' user='john'/>"
                     "<singleUser action='COPYPERSISTENTDATA' user='john'/>"
                     "<allUser/>"
                     "<allUser action='copyPersistentData'/>"
                     "<configVA><singleuser/><music action='0'/><games/></configVA>"
                     "</remoteCmd>"),
            (Lines{"no effect: singleUser without an action or an account",
                   "no effect: action \"ResetUser\" is not supported here (the run shows an error box)",
                   "no effect: action \"COPYPERSISTENTDATA\" is not supported here (the run shows an error box)",
                   "no effect: allUser without an action or an account",
                   "no effect: action \"copyPersistentData\" is not supported here (the run shows an error box)",
                   "no effect: configVA child \"games\" is not an application",
                   "no effect: configVA names singleuser without a user; no account changes",
                   "nothing: the file holds no command"}));
}

TEST_F(DescribeTest, AnEmptyFileDoesNothing) {
  EXPECT_EQ(Describe("<remoteCmd/>"), (Lines{"nothing: the file holds no command"}));
}

TEST_F(DescribeTest, TwoSpellingsOfOneAccountCannotBothMatch) {
  EXPECT_EQ(Describe("<remoteCmd><singleUser action='resetUser' user='john'/>"
                     "<singleUser action='changePassword' user='John'/>"
                     "<singleUser action='resetUser' user='john'/></remoteCmd>"),
            (Lines{"reset account john", "ask account John for a new password at its next start",
                   "no effect for one of them: account \"John\" is also written \"john\"; names must "
                   "match in letter case",
                   "reset account john"}));
}

TEST_F(DescribeTest, ConfigVAWritesAllNineSwitchesTogether) {
  Lines every = kEveryAppOn;
  every[0] = "mail off for every account";
  every[1] = "web off for every account";
  // FALSE in capitals takes an application away too; an unknown child's
  // action counts for the application before it.
  every[7] = "photo off for every account";
  EXPECT_EQ(Describe("<remoteCmd><configVA><mail action='0'/><WEB action='FALSE'/>"
                     "<photo action='1'/><extra action='0'/></configVA></remoteCmd>"),
            every);
  EXPECT_EQ(Describe("<remoteCmd><configVA><singleuser user='john'/><chat action='false'/></configVA>"
                     "</remoteCmd>"),
            (Lines{"mail on for account john", "web on for account john", "chat off for account john",
                   "voip on for account john", "rdesktop on for account john",
                   "icaclient on for account john", "vmware on for account john",
                   "photo on for account john", "music on for account john"}));
}

TEST_F(DescribeTest, OnlyTheLastSettingElementCounts) {
  EXPECT_EQ(Describe("<remoteCmd>"
                     "<configPower><ac standby='5'/></configPower>"
                     "<configRadio wlan='on'/>"
                     "<configPower><ac standby='30'/><dc standby='10'/></configPower>"
                     "<configPassword><rule minLength='8'/><rule minLength='4'/></configPassword>"
                     "<configRadio wlan='off'/>"
                     "<configPower/>"
                     "</remoteCmd>"),
            (Lines{"password settings: rule minLength=\"8\"",
                   "no effect: \"rule\" in configPassword; only the first child is written",
                   "no effect: configPower number 1 of 3; only the last one counts",
                   "no effect: configPower number 2 of 3; only the last one counts",
                   "power settings: configPower",
                   "no effect: configRadio number 1 of 2; only the last one counts",
                   "radio settings: configRadio wlan=\"off\""}));
}

}  // namespace
}  // namespace kvx
