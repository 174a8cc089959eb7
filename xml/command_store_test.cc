#include "xml/command_store.h"

#include "tests/flash_fixture.h"

namespace kvx {
namespace {

using namespace kvx::testing;

const char kFrame[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<cmdstore xsi:type=\"cmdstoreType\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><cmd>";
const char kEnd[] = "</cmd></cmdstore>\n";

XMLNode Record(const std::string& name, std::vector<XMLAttrib> attribs, const std::string& text = "") {
  XMLNode n;
  n.strNodeName = name;
  n.strNodeValue = text;
  n.strNodeXml = "<" + name + ">" + text + "</" + name + ">";
  n.vecAttribs = std::move(attribs);
  return n;
}

class CommandStoreTest : public FlashFixture {
 protected:
  void SetUp() override { MakeDirs(Vol("QUARLE.SYS")); }
};

TEST_F(CommandStoreTest, PowerHoldsEveryRecordUnderConfigPower) {
  const XMLNodeList nodes = {Record("ac", {{"30", "standby"}}, "text is not carried"),
                             Record("dc", {{"10", "standby"}, {"60", "hibernate"}}),
                             Record("lid", {{"sleep & wake", "action"}})};
  ASSERT_TRUE(ApplyConfigPower(ctx_, nodes));
  EXPECT_EQ(Get("QUARLE.SYS/cmds/power.xml"),
            std::string(kFrame) +
                "<configPower><ac standby=\"30\"/><dc standby=\"10\" hibernate=\"60\"/>"
                "<lid action=\"sleep &amp; wake\"/></configPower>" + kEnd);
  EXPECT_TRUE(debug_.Has("The ConfigPowerPath ~:\\QUARLE.SYS\\cmds\\power.xml!"));
}

TEST_F(CommandStoreTest, PasswordAndRadioTakeTheFirstRecord) {
  ASSERT_TRUE(ApplyConfigPassword(
      ctx_, {Record("configPassword", {{"8", "minLength"}, {"1", "complexity"}}), Record("x", {})}));
  EXPECT_EQ(Get("QUARLE.SYS/cmds/password.xml"),
            std::string(kFrame) + "<configPassword minLength=\"8\" complexity=\"1\"/>" + kEnd);
  EXPECT_TRUE(debug_.Has("The config password's Folder is ~:\\QUARLE.SYS\\cmds"));
  EXPECT_TRUE(debug_.Has("The config password's Folder does not existed!"));
  ASSERT_TRUE(ApplyConfigRadio(ctx_, {Record("wlan", {{"on", "state"}}), Record("bt", {})}));
  EXPECT_EQ(Get("QUARLE.SYS/cmds/radio.xml"), std::string(kFrame) + "<wlan state=\"on\"/>" + kEnd);
  EXPECT_TRUE(debug_.Has("GetConfigRadioPath ~:\\QUARLE.SYS\\cmds\\radio.xml!"));
  EXPECT_FALSE(ApplyConfigRadio(ctx_, {}));
  EXPECT_FALSE(WriteRadioCmdStore(ctx_, {}, "~:\\QUARLE.SYS\\cmds\\radio.xml"));
}

TEST_F(CommandStoreTest, SavingReplacesTheWholeFile) {
  Put("QUARLE.SYS/cmds/power.xml", std::string(10000, 'x'));
  ASSERT_TRUE(ApplyConfigPower(ctx_, {}) == false);
  ASSERT_TRUE(ApplyConfigPower(ctx_, {Record("ac", {})}));
  EXPECT_EQ(Get("QUARLE.SYS/cmds/power.xml"), std::string(kFrame) + "<configPower><ac/></configPower>" + kEnd);
}

TEST_F(CommandStoreTest, ARootEndingInABackslashGetsNoSecond) {
  MakeDirs(Vol("SYS"));
  Put("quarle.idx", "x\n/SYS\\\n");
  std::string path;
  ASSERT_TRUE(GetConfigRadioPath(ctx_, path));
  EXPECT_EQ(path, "~:\\SYS\\cmds\\radio.xml");
}

TEST_F(CommandStoreTest, NoSystemRootOrNoParentWritesNothing) {
  RemoveTree(Vol("QUARLE.SYS"));
  std::string path = "untouched";
  EXPECT_FALSE(GetConfigPasswordPath(ctx_, path));
  EXPECT_EQ(path, "untouched");
  EXPECT_FALSE(ApplyConfigPassword(ctx_, {Record("configPassword", {})}));
  EXPECT_TRUE(debug_.Has("The config password's Folder is "));
  EXPECT_TRUE(debug_.Has("The config password's Folder-----CreateDirectory failed!"));
  EXPECT_FALSE(WriteChangePasswordCmdStore(ctx_, "~:\\QUARLE.000\\john\\cmds\\password.xml", "john"));
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.000"), kInvalidAttributes);
}

TEST_F(CommandStoreTest, ChangePasswordRequestForOneAccount) {
  MakeDirs(Vol("QUARLE.000/john"));
  ASSERT_TRUE(WriteChangePasswordCmdStore(ctx_, "~:\\QUARLE.000\\john\\cmds\\password.xml", "john"));
  EXPECT_EQ(Get("QUARLE.000/john/cmds/password.xml"),
            std::string(kFrame) + "<singleUser action=\"changePassword\" user=\"john\"/>" + kEnd);
}

TEST_F(CommandStoreTest, ARecordThatIsNoElementWritesNothing) {
  EXPECT_FALSE(WritePasswordCmdStore(ctx_, "~:\\QUARLE.SYS\\cmds\\password.xml", Record("#text", {})));
  EXPECT_FALSE(WritePowerCmdStore(ctx_, {Record("ok", {}), Record("#comment", {})},
                                  "~:\\QUARLE.SYS\\cmds\\power.xml"));
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.SYS\\cmds"), kInvalidAttributes);
}

}  // namespace
}  // namespace kvx
