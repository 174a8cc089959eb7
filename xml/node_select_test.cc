#include "xml/node_select.h"

#include <gtest/gtest.h>

#include "platform/libxml2/xml_dom_libxml2.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class SelectTest : public ::testing::Test {
 protected:
  SelectTest()
      : xml(CreateLibxml2Services([](const std::string& w, std::string& n) {
          n = w;
          return true;
        })) {}

  XMLNodeList Select(const std::string& document_text, const std::string& query) {
    WriteFile(dir / "d.xml", document_text);
    document = xml->CreateDocument(XmlClassVersion::k60);
    document->SetResolveExternals(true);
    EXPECT_TRUE(document->Load(dir / "d.xml")) << document->ParseError().reason;
    debug.lines.clear();
    return SelectNodes(*document, debug, query);
  }

  TempDir dir;
  std::unique_ptr<XmlServices> xml;
  std::unique_ptr<XmlDocument> document;
  RecordingDebug debug;
};

TEST_F(SelectTest, AnEmptyElementIsItsOwnRecord) {
  XMLNodeList list = Select("<remoteCmd><allUser action='resetUser'/></remoteCmd>", "//allUser");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].strNodeName, "allUser");
  EXPECT_EQ(list[0].strNodeValue, "");
  EXPECT_EQ(list[0].strNodeXml, "<allUser action=\"resetUser\"/>");
  ASSERT_EQ(list[0].vecAttribs.size(), 1u);
  EXPECT_EQ(list[0].vecAttribs[0].strAttriName, "action");
  EXPECT_EQ(list[0].vecAttribs[0].strAttriValue, "resetUser");
  EXPECT_EQ(debug.lines, (std::vector<std::string>{"Begin selectNodes.",
                                                   "The pXMLNodeList->length is 1.",
                                                   "Not hasChildNodes.", "End selectNodes."}));
}

TEST_F(SelectTest, AnElementWithChildrenIsReplacedByThem) {
  XMLNodeList list = Select(
      "<remoteCmd>\n  <configPower mode='x'>\n    <ac sleep='10'/>\n    <dc sleep='5'/>\n"
      "  </configPower>\n</remoteCmd>",
      "(//configPower)[last()]");
  ASSERT_EQ(list.size(), 2u);  // indentation gives no records
  EXPECT_EQ(list[0].strNodeName, "ac");
  ASSERT_EQ(list[0].vecAttribs.size(), 1u);
  EXPECT_EQ(list[0].vecAttribs[0].strAttriName, "sleep");
  EXPECT_EQ(list[0].vecAttribs[0].strAttriValue, "10");
  EXPECT_EQ(list[1].strNodeName, "dc");
  ASSERT_EQ(list[1].vecAttribs.size(), 1u);
  EXPECT_EQ(list[1].vecAttribs[0].strAttriValue, "5");
  EXPECT_EQ(debug.lines[2], "Has hasChildNodes.");
  EXPECT_EQ(debug.lines[3], "node.strNodeName = ac. node.strNodeValue = , node.strNodeXml = <ac sleep=\"10\"/>");
  EXPECT_EQ(debug.lines[4], "xmlAttrib.strAttriName = sleep. xmlAttrib.strAttriValue = 10");
}

TEST_F(SelectTest, TextContentBecomesATextRecord) {
  XMLNodeList list = Select("<remoteCmd><configRadio>on &amp; off</configRadio></remoteCmd>",
                            "(//configRadio)[last()]");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].strNodeName, "#text");
  EXPECT_EQ(list[0].strNodeValue, "on & off");
  EXPECT_EQ(list[0].strNodeXml, "on &amp; off");
  EXPECT_TRUE(list[0].vecAttribs.empty());
}

TEST_F(SelectTest, AChildWithTextKeepsItsTags) {
  XMLNodeList list =
      Select("<remoteCmd><configVA><mail action='0'>no <b>mail</b></mail></configVA></remoteCmd>",
             "(//configVA)");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].strNodeName, "mail");
  EXPECT_EQ(list[0].strNodeValue, "no mail");
  EXPECT_EQ(list[0].strNodeXml, "<mail action=\"0\">no <b>mail</b></mail>");
}

TEST_F(SelectTest, MatchesComeInDocumentOrderAndNothingMatchedIsEmpty) {
  const std::string doc =
      "<remoteCmd><singleUser user='a'/><configVA/><singleUser user='b'/></remoteCmd>";
  XMLNodeList list = Select(doc, "//singleUser");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].vecAttribs[0].strAttriValue, "a");
  EXPECT_EQ(list[1].vecAttribs[0].strAttriValue, "b");
  EXPECT_TRUE(Select(doc, "//allUser").empty());
  EXPECT_EQ(debug.lines, (std::vector<std::string>{"Begin selectNodes.",
                                                   "The pXMLNodeList->length is 0.",
                                                   "End selectNodes."}));
  EXPECT_TRUE(Select(doc, "((bad").empty());
}

TEST_F(SelectTest, ReferencesInAttributesAreResolved) {
  XMLNodeList list = Select(
      "<!DOCTYPE remoteCmd [<!ENTITY who 'Jörg'>]>"
      "<remoteCmd><singleUser user='&who;&#x263A;&lt;' action='a&amp;b'/></remoteCmd>",
      "//singleUser");
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(list[0].vecAttribs.size(), 2u);
  EXPECT_EQ(list[0].vecAttribs[0].strAttriName, "user");  // document order
  EXPECT_EQ(list[0].vecAttribs[0].strAttriValue, "Jörg\u263A<");
  EXPECT_EQ(list[0].vecAttribs[1].strAttriValue, "a&b");
}

TEST_F(SelectTest, OtherNodeKindsKeepTheirFixedNames) {
  XMLNodeList list = Select(
      "<remoteCmd xmlns:p='urn:p'><configPassword><!--note--><![CDATA[x<y]]><?pi data?>"
      "<p:len p:min='8'/></configPassword></remoteCmd>",
      "(//configPassword)[last()]");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].strNodeName, "#comment");
  EXPECT_EQ(list[1].strNodeName, "#cdata-section");
  EXPECT_EQ(list[1].strNodeValue, "x<y");
  EXPECT_EQ(list[2].strNodeName, "pi");
  EXPECT_EQ(list[3].strNodeName, "p:len");
  ASSERT_EQ(list[3].vecAttribs.size(), 1u);
  EXPECT_EQ(list[3].vecAttribs[0].strAttriName, "p:min");
}

TEST_F(SelectTest, NamespaceDeclarationsAreAttributes) {
  XMLNodeList list =
      Select("<remoteCmd><configRadio xmlns:w='urn:w' w:on='1'/></remoteCmd>", "//configRadio");
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(list[0].vecAttribs.size(), 2u);
  EXPECT_EQ(list[0].vecAttribs[0].strAttriName, "xmlns:w");
  EXPECT_EQ(list[0].vecAttribs[0].strAttriValue, "urn:w");
  EXPECT_EQ(list[0].vecAttribs[1].strAttriName, "w:on");
}

}  // namespace
}  // namespace kvx
