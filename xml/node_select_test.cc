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

std::vector<std::string> AttributeTexts(const XMLNode& n) {
  std::vector<std::string> out;
  for (const XMLAttrib& a : n.vecAttribs)
    out.push_back(a.strAttriName + "=" + a.strAttriValue + "@" + a.strAttriNamespaceUri);
  return out;
}

const char kXmlns[] = "@http://www.w3.org/2000/xmlns/";

TEST_F(SelectTest, OtherNodeKindsKeepTheirFixedNames) {
  XMLNodeList list = Select(
      "<remoteCmd xmlns:p='urn:p'><configPassword><![CDATA[x<y]]>"
      "<p:len p:min='8'/></configPassword></remoteCmd>",
      "(//configPassword)[last()]");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].strNodeName, "#cdata-section");
  EXPECT_EQ(list[0].strNodeValue, "x<y");
  EXPECT_EQ(list[1].strNodeName, "p:len");
  EXPECT_EQ(list[1].strNamespaceUri, "urn:p");
  EXPECT_EQ(AttributeTexts(list[1]), std::vector<std::string>{"p:min=8@urn:p"});
}

// A comment or processing instruction changes nothing a command says.
TEST_F(SelectTest, CommentsAndProcessingInstructionsAreNoPartOfACommand) {
  const std::string doc =
      "<remoteCmd>"
      "<configPassword minLength='8'><!-- strong enough --></configPassword>"
      "<configPower><!--c--><?pi x?><ac s='1'/><!--d--><dc/><?end?></configPower>"
      "<singleUser action='deleteUser' user='john'><!-- leaving --></singleUser>"
      "</remoteCmd>";
  XMLNodeList list = Select(doc, "(//configPassword)[last()]");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].strNodeName, "configPassword");
  ASSERT_EQ(list[0].vecAttribs.size(), 1u);
  EXPECT_EQ(list[0].vecAttribs[0].strAttriValue, "8");
  EXPECT_EQ(debug.lines[2], "Not hasChildNodes.");

  list = Select(doc, "(//configPower)[last()]");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].strNodeName, "ac");
  EXPECT_EQ(list[1].strNodeName, "dc");

  list = Select(doc, "//singleUser");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].strNodeName, "singleUser");
  ASSERT_EQ(list[0].vecAttribs.size(), 2u);
  EXPECT_EQ(list[0].vecAttribs[1].strAttriValue, "john");
}

// White-space-only text goes unless xml:space="preserve" keeps it: an
// element's own value decides, else its nearest ancestor's; a value that
// is neither "preserve" nor "default" leaves the decision to the parent.
TEST_F(SelectTest, BlankTextGoesUnlessXmlSpaceKeepsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"<r> <a>t<b/> <c/></a> </r>", "<r><a>t<b/><c/></a></r>"},
      {"<r xml:space='preserve'> <a>t<b/> <c/></a> </r>",
       "<r xml:space=\"preserve\"><a>t<b/> <c/></a></r>"},
      {"<r><a xml:space='preserve'>t<b xml:space='default'>u<c/> <d/></b> </a></r>",
       "<r><a xml:space=\"preserve\">t<b xml:space=\"default\">u<c/> <d/></b> </a></r>"},
      {"<r xml:space='preserve'><a xml:space='other'>t<b/> <c/></a></r>",
       "<r xml:space=\"preserve\"><a xml:space=\"other\">t<b/> <c/></a></r>"},
      {"<r xml:space='preserve'><a xml:space='default'>t<b/> <c/></a></r>",
       "<r xml:space=\"preserve\"><a xml:space=\"default\">t<b/><c/></a></r>"},
  };
  for (const auto& [text, kept] : cases) {
    Select(text, "/r");
    auto root = document->SelectNodes("/r");
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->Length(), 1);
    EXPECT_EQ(root->Item(0)->Xml(), kept) << text;
  }
}

// Declarations come among the attributes where the start tag writes them,
// each with the namespace its name stands for.
TEST_F(SelectTest, DeclarationsStandWhereTheyAreWritten) {
  XMLNodeList list = Select(
      "<remoteCmd><configRadio wlan=\"on\" xmlns:p=\"urn:p\" p:band=\"5\"/></remoteCmd>",
      "//configRadio");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(AttributeTexts(list[0]), (std::vector<std::string>{
                                         "wlan=on@", std::string("xmlns:p=urn:p") + kXmlns,
                                         "p:band=5@urn:p"}));

  // Any mix, over several lines, with a default namespace, and values that
  // hold what looks like markup.
  list = Select(
      "<remoteCmd><configPower>\n<ac x='a=\"b\" /' \n xmlns:q = \"urn:q\"\tq:y='>'"
      " xmlns='urn:d' z=\"3\"/></configPower></remoteCmd>",
      "(//configPower)[last()]");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].strNamespaceUri, "urn:d");
  EXPECT_EQ(AttributeTexts(list[0]),
            (std::vector<std::string>{"x=a=\"b\" /@", std::string("xmlns:q=urn:q") + kXmlns,
                                      "q:y=>@urn:q", std::string("xmlns=urn:d") + kXmlns, "z=3@"}));

  // An element that comes from an entity keeps its order as well, each time
  // the entity is used.
  list = Select(
      "<!DOCTYPE remoteCmd [<!ENTITY r '<configRadio a=\"1\" xmlns:p=\"urn:p\" p:b=\"2\"/>'>]>"
      "<remoteCmd>&r;&r;</remoteCmd>",
      "//configRadio");
  ASSERT_EQ(list.size(), 2u);
  for (const XMLNode& n : list)
    EXPECT_EQ(AttributeTexts(n), (std::vector<std::string>{
                                     "a=1@", std::string("xmlns:p=urn:p") + kXmlns, "p:b=2@urn:p"}));
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
