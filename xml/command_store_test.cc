#include "xml/command_store.h"

#include <tuple>

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


// The command file `text`, loaded from the volume, applied as the driver
// applies its settings.
class CommandFileTest : public CommandStoreTest {
 protected:
  void Apply(const std::string& text) {
    Put("cmd.xml", text);
    command_ = xml_->CreateDocument(XmlClassVersion::k60);
    command_->SetResolveExternals(true);
    ASSERT_TRUE(command_->Load("~:\\cmd.xml")) << command_->ParseError().reason;
    XMLNodeList nodes = SelectNodes(*command_, debug_, "(//configPassword)[last()]");
    if (!nodes.empty()) ApplyConfigPassword(ctx_, nodes);
    nodes = SelectNodes(*command_, debug_, "(//configPower)[last()]");
    if (!nodes.empty()) ApplyConfigPower(ctx_, nodes);
    nodes = SelectNodes(*command_, debug_, "(//configRadio)[last()]");
    if (!nodes.empty()) ApplyConfigRadio(ctx_, nodes);
  }
  // The records under `query` in a file written on the volume, read by a
  // namespace-aware parser; empty when the file does not load.
  XMLNodeList Written(const std::string& file, const std::string& query) {
    std::unique_ptr<XmlDocument> doc = xml_->CreateDocument(XmlClassVersion::k60);
    if (!doc->Load("~:\\QUARLE.SYS\\cmds\\" + file)) {
      ADD_FAILURE() << file << " does not load: " << doc->ParseError().reason << "\n"
                    << Get("QUARLE.SYS/cmds/" + file);
      return {};
    }
    return SelectNodes(*doc, debug_, query);
  }
  std::unique_ptr<XmlDocument> command_;
};

// A record as the flash system reads it: its name and namespace, and its
// attributes (declarations aside) with their namespaces, in order.
std::string Meaning(const XMLNode& n) {
  std::string text = n.strNodeName + "{" + n.strNamespaceUri + "}";
  for (const XMLAttrib& a : n.vecAttribs)
    if (a.strAttriNamespaceUri != "http://www.w3.org/2000/xmlns/")
      text += " " + a.strAttriName + "{" + a.strAttriNamespaceUri + "}=" + a.strAttriValue;
  return text;
}

TEST_F(CommandFileTest, DeclarationsAreWrittenWhereTheyStood) {
  Apply("<remoteCmd><configRadio wlan=\"on\" xmlns:p=\"urn:p\" p:band=\"5\"/></remoteCmd>");
  EXPECT_EQ(Get("QUARLE.SYS/cmds/radio.xml"),
            std::string(kFrame) + "<configRadio wlan=\"on\" xmlns:p=\"urn:p\" p:band=\"5\"/>" + kEnd);
}

TEST_F(CommandFileTest, APrefixDeclaredOnAnAncestorIsDeclaredInTheFile) {
  Apply("<remoteCmd xmlns:p=\"urn:x\"><configPassword p:minLength=\"8\"/></remoteCmd>");
  EXPECT_EQ(Get("QUARLE.SYS/cmds/password.xml"),
            std::string(kFrame) + "<configPassword p:minLength=\"8\" xmlns:p=\"urn:x\"/>" + kEnd);
}

// Whatever namespaces the command file uses, every command-store file
// loads again and says what the command file said.
TEST_F(CommandFileTest, EveryCommandStoreFileLoadsAgainWithTheSameNames) {
  const std::vector<std::string> settings = {
      // prefixes on attributes and elements, declared on ancestors
      "<configPassword xmlns:p='urn:x' p:minLength='8' length='3'/>",
      "<configPower xmlns:p='urn:p'><p:ac p:standby='10' t='2'/><dc p:x='1'/></configPower>",
      // a default namespace on a record, and one on its parent
      "<configRadio><wlan xmlns='urn:d' state='on'/></configRadio>",
      "<configPower><ac xmlns='urn:d'/><dc xmlns='urn:e' xmlns:f='urn:f' f:a='1'/></configPower>",
      // redeclarations: the nearest declaration counts
      "<configPower xmlns:p='urn:b'><ac p:x='1'/><dc xmlns:p='urn:c' p:x='2'/></configPower>",
      // xsi bound to another namespace than the frame's, and the frame's
      "<configRadio xmlns:xsi='urn:other' xsi:type='t'/>",
      "<configRadio xsi:type='t'/>",
      "<configPassword xmlns:i='http://www.w3.org/2001/XMLSchema-instance' i:nil='true'/>",
      "<configPassword xsi:type='t' xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'/>",
      // the xml prefix needs no declaration
      "<configRadio xml:lang='de' a='1'/>",
      // one prefix for two namespaces on two records
      "<configPower><p:ac xmlns:p='urn:1' p:a='1'/><p:ac xmlns:p='urn:2' p:a='2'/></configPower>",
  };
  const std::string ancestors =
      "<remoteCmd xmlns:p='urn:a' xmlns:q='urn:q' xmlns:xsi='urn:root-xsi'>";
  for (const std::string& setting : settings) {
    SCOPED_TRACE(setting);
    RemoveTree(Vol("QUARLE.SYS/cmds"));
    Apply(ancestors + setting + "</remoteCmd>");
    for (auto [file, source, written] :
         {std::tuple<const char*, const char*, const char*>{"password.xml", "(//configPassword)[last()]", "/cmdstore/cmd/*"},
          {"power.xml", "(//configPower)[last()]", "/cmdstore/cmd/configPower/*"},
          {"radio.xml", "(//configRadio)[last()]", "/cmdstore/cmd/*"}}) {
      const XMLNodeList from = SelectNodes(*command_, debug_, source);
      if (from.empty()) continue;
      const XMLNodeList to = Written(file, written);
      const size_t count = std::string(file) == "power.xml" ? from.size() : 1;
      ASSERT_EQ(to.size(), count) << Get(std::string("QUARLE.SYS/cmds/") + file);
      for (size_t i = 0; i < count; ++i) EXPECT_EQ(Meaning(to[i]), Meaning(from[i]));
    }
  }
}

// A comment or processing instruction changes nothing a setting says.
TEST_F(CommandFileTest, CommentsInASettingLeaveItWhole) {
  Apply("<remoteCmd>"
        "<configPassword minLength='8'><!-- strong enough --></configPassword>"
        "<configPower xml:space='preserve'>\n  <!-- mains --><ac standby='30'/><?note x?>\n"
        "  <dc standby='10'/>\n</configPower>"
        "<configRadio><?editor keep?><!-- radio --><wlan state='on'/></configRadio>"
        "</remoteCmd>");
  EXPECT_EQ(Get("QUARLE.SYS/cmds/password.xml"),
            std::string(kFrame) + "<configPassword minLength=\"8\"/>" + kEnd);
  EXPECT_EQ(Get("QUARLE.SYS/cmds/power.xml"),
            std::string(kFrame) +
                "<configPower><ac standby=\"30\"/><dc standby=\"10\"/></configPower>" + kEnd);
  EXPECT_EQ(Get("QUARLE.SYS/cmds/radio.xml"), std::string(kFrame) + "<wlan state=\"on\"/>" + kEnd);
}

TEST_F(CommandStoreTest, APrefixOfUnknownMeaningWritesNothing) {
  Put("QUARLE.SYS/cmds/radio.xml", "old");
  XMLNode record = Record("p:wlan", {{"on", "state"}});
  EXPECT_FALSE(WriteRadioCmdStore(ctx_, {record}, "~:\\QUARLE.SYS\\cmds\\radio.xml"));
  record = Record("wlan", {{"on", "q:state"}});
  EXPECT_FALSE(WriteRadioCmdStore(ctx_, {record}, "~:\\QUARLE.SYS\\cmds\\radio.xml"));
  EXPECT_EQ(Get("QUARLE.SYS/cmds/radio.xml"), "old");
  EXPECT_EQ(files_.GetAttributes("~:\\QUARLE.SYS\\cmds\\radio.xml.kvxtmp"), kInvalidAttributes);
}

}  // namespace
}  // namespace kvx
