#include "platform/win32/xml_dom_msxml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "platform/win32/com_text.h"
#include "tests/com_stubs.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"
#include "xml/node_select.h"
#include "xml/xml_loader.h"

namespace kvx {
namespace {

using namespace kvx::testing;

std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

const char kSchema[] =
    "<?xml version=\"1.0\"?>\n"
    "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n"
    "  <xs:element name=\"remoteCmd\">\n"
    "    <xs:complexType><xs:sequence>\n"
    "      <xs:any processContents=\"skip\" minOccurs=\"0\" maxOccurs=\"unbounded\"/>\n"
    "    </xs:sequence></xs:complexType>\n"
    "  </xs:element>\n"
    "</xs:schema>\n";

// The shapes the driver's queries meet: empty elements, an element with
// element children, an element with text only, references in values.
const char kCommands[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<remoteCmd xmlns:x=\"urn:x\">\n"
    "  <singleUser action=\"deleteUser\" user=\"j&#246;rg\"/>\n"
    "  <singleUser action=\"resetUser\" user=\"a&amp;b\"/>\n"
    "  <allUser action=\"changePassword\"/>\n"
    "  <configVA user=\"ann\">\n"
    "    <mail action=\"0\"/>\n"
    "    <web action=\"1\">on &lt;now&gt;</web>\n"
    "  </configVA>\n"
    "  <configPassword minLength=\"6\"/>\n"
    "  <configPassword minLength=\"8\" xmlns:y=\"urn:y\" y:mark=\"1\"/>\n"
    "  <configPower><ac standby=\"30\"/><dc standby=\"10\" hibernate=\"60\"/></configPower>\n"
    "  <configRadio>wlan &amp; bt</configRadio>\n"
    "</remoteCmd>\n";

// COM for the test's thread, as the tool's entry point initialises it.
class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

class MsxmlTest : public ComTest {
 protected:
  std::string Put(const std::string& name, const std::string& bytes) {
    WriteFile(dir_ / name, bytes);
    return WindowsPath(dir_ / name);
  }
  // The document loaded through the loader of the tool, on the real classes.
  bool Load(const std::string& bytes, std::string* text = nullptr) {
    const std::string schema = Put("s.xsd", kSchema);
    const std::string file = Put("c.xml", bytes);
    files_.files[schema] = kSchema;
    XmlLoadContext ctx{xml_, files_, debug_, strings_};
    std::string validation;
    const bool ok = LoadAndValidateXml(ctx, doc_, file, schema, validation);
    if (text) *text = validation;
    return ok;
  }

  TempDir dir_;
  MsxmlServices xml_;
  MemoryFiles files_;
  RecordingDebug debug_;
  FakeStrings strings_;
  std::unique_ptr<XmlDocument> doc_;
};

std::vector<std::string> Names(const XMLNodeList& nodes) {
  std::vector<std::string> names;
  for (const XMLNode& n : nodes) names.push_back(n.strNodeName);
  return names;
}

TEST_F(MsxmlTest, EveryClassVersionIsThere) {
  for (XmlClassVersion v : {XmlClassVersion::k60, XmlClassVersion::k30, XmlClassVersion::k40,
                            XmlClassVersion::k26}) {
    EXPECT_NE(xml_.CreateDocument(v), nullptr) << static_cast<int>(v);
    EXPECT_NE(xml_.CreateSchemaCache(v), nullptr) << static_cast<int>(v);
  }
}

TEST_F(MsxmlTest, TheDriversQueriesGiveTheirRecords) {
  ASSERT_TRUE(Load(kCommands));
  EXPECT_TRUE(debug_.Has("pXS.CreateInstance MSXML2::XMLSchemaCache successful."));
  EXPECT_TRUE(debug_.Has("pXD->load(" + WindowsPath(dir_ / "c.xml") + ") successful."));

  const XMLNodeList single = SelectNodes(*doc_, debug_, "//singleUser");
  ASSERT_EQ(single.size(), 2u);
  EXPECT_EQ(single[0].strNodeName, "singleUser");
  EXPECT_EQ(single[0].strNodeValue, "");
  EXPECT_EQ(single[0].strNodeXml, "<singleUser action=\"deleteUser\" user=\"j\xC3\xB6rg\"/>");
  ASSERT_EQ(single[0].vecAttribs.size(), 2u);
  EXPECT_EQ(single[0].vecAttribs[0].strAttriName, "action");
  EXPECT_EQ(single[0].vecAttribs[0].strAttriValue, "deleteUser");
  EXPECT_EQ(single[0].vecAttribs[1].strAttriValue, "j\xC3\xB6rg");  // reference resolved
  EXPECT_EQ(single[1].vecAttribs[1].strAttriValue, "a&b");

  EXPECT_EQ(Names(SelectNodes(*doc_, debug_, "//allUser")), std::vector<std::string>{"allUser"});

  // An element with children gives its children, not itself; a child's
  // text comes with it, its markup carries its own tags.
  const XMLNodeList va = SelectNodes(*doc_, debug_, "(//configVA)");
  ASSERT_EQ(Names(va), (std::vector<std::string>{"mail", "web"}));
  EXPECT_EQ(va[0].vecAttribs.size(), 1u);
  EXPECT_EQ(va[1].strNodeValue, "on <now>");
  EXPECT_EQ(va[1].strNodeXml, "<web action=\"1\">on &lt;now&gt;</web>");

  // The last of two, with its attributes in the DOM's order: document order
  // on Windows; Wine's MSXML lists the namespace declarations last.
  const XMLNodeList password = SelectNodes(*doc_, debug_, "(//configPassword)[last()]");
  ASSERT_EQ(password.size(), 1u);
  std::vector<std::pair<std::string, std::string>> attributes;
  for (const XMLAttrib& a : password[0].vecAttribs) attributes.emplace_back(a.strAttriName, a.strAttriValue);
  EXPECT_EQ(attributes, (std::vector<std::pair<std::string, std::string>>{
                            {"minLength", "8"}, {"y:mark", "1"}, {"xmlns:y", "urn:y"}}));

  const XMLNodeList power = SelectNodes(*doc_, debug_, "(//configPower)[last()]");
  ASSERT_EQ(Names(power), (std::vector<std::string>{"ac", "dc"}));
  EXPECT_EQ(power[1].vecAttribs.size(), 2u);

  // Text only: one #text record, its markup the escaped text.
  const XMLNodeList radio = SelectNodes(*doc_, debug_, "(//configRadio)[last()]");
  ASSERT_EQ(radio.size(), 1u);
  EXPECT_EQ(radio[0].strNodeName, "#text");
  EXPECT_EQ(radio[0].strNodeValue, "wlan & bt");
  EXPECT_EQ(radio[0].strNodeXml, "wlan &amp; bt");
  EXPECT_TRUE(radio[0].vecAttribs.empty());

  EXPECT_TRUE(SelectNodes(*doc_, debug_, "//configNothing").empty());
}

TEST_F(MsxmlTest, TheRootCarriesItsNamespaceDeclarationAsAnAttribute) {
  ASSERT_TRUE(Load(kCommands));
  std::unique_ptr<XmlNodeList> roots = doc_->SelectNodes("/remoteCmd");
  ASSERT_NE(roots, nullptr);
  ASSERT_EQ(roots->Length(), 1);
  std::vector<std::pair<std::string, std::string>> attributes;
  ASSERT_TRUE(roots->Item(0)->Attributes(attributes));
  EXPECT_EQ(attributes, (std::vector<std::pair<std::string, std::string>>{{"xmlns:x", "urn:x"}}));
  EXPECT_EQ(roots->Item(1), nullptr);

  // A text node has no attribute map.
  std::unique_ptr<XmlNodeList> texts = doc_->SelectNodes("//web/text()");
  ASSERT_NE(texts, nullptr);
  ASSERT_EQ(texts->Length(), 1);
  EXPECT_FALSE(texts->Item(0)->Attributes(attributes));
  EXPECT_FALSE(texts->Item(0)->HasChildNodes());
  EXPECT_EQ(texts->Item(0)->FirstChild(), nullptr);
  EXPECT_EQ(texts->Item(0)->NextSibling(), nullptr);
}

// What the command selection tells apart: the kind of each node, and the
// namespace of element and attribute names, a prefix declared on an
// ancestor and a default namespace included.
TEST_F(MsxmlTest, NodesTellTheirKindAndNamespaces) {
  ASSERT_TRUE(Load("<?xml version=\"1.0\"?>\n"
                   "<remoteCmd xmlns:p=\"urn:p\">"
                   "<!-- note --><?tool go?>"
                   "<p:singleUser p:action=\"deleteUser\" user=\"ann\"><![CDATA[x]]></p:singleUser>"
                   "<configVA xmlns=\"urn:d\" xmlns:q=\"urn:q\" q:mark=\"1\">t</configVA>"
                   "</remoteCmd>\n"));
  const std::string xmlns = kXmlnsNamespace;
  std::vector<std::string> uris;

  std::unique_ptr<XmlNodeList> docs = doc_->SelectNodes("/");
  ASSERT_NE(docs, nullptr);
  ASSERT_EQ(docs->Length(), 1);
  EXPECT_EQ(docs->Item(0)->NodeType(), XmlNodeType::kDocument);

  std::unique_ptr<XmlNodeList> roots = doc_->SelectNodes("/remoteCmd");
  ASSERT_NE(roots, nullptr);
  ASSERT_EQ(roots->Length(), 1);
  std::unique_ptr<XmlNode> root = roots->Item(0);
  EXPECT_EQ(root->NodeType(), XmlNodeType::kElement);
  EXPECT_EQ(root->NamespaceUri(), "");
  ASSERT_TRUE(root->AttributeNamespaceUris(uris));
  EXPECT_EQ(uris, std::vector<std::string>{xmlns});

  std::unique_ptr<XmlNode> comment = root->FirstChild();
  ASSERT_NE(comment, nullptr);
  EXPECT_EQ(comment->NodeType(), XmlNodeType::kComment);
  EXPECT_EQ(comment->NamespaceUri(), "");
  EXPECT_FALSE(comment->AttributeNamespaceUris(uris));
  std::unique_ptr<XmlNode> pi = comment->NextSibling();
  ASSERT_NE(pi, nullptr);
  EXPECT_EQ(pi->NodeType(), XmlNodeType::kProcessingInstruction);

  std::unique_ptr<XmlNode> user = pi->NextSibling();
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->NodeType(), XmlNodeType::kElement);
  EXPECT_EQ(user->NodeName(), "p:singleUser");
  EXPECT_EQ(user->NamespaceUri(), "urn:p");
  std::vector<std::pair<std::string, std::string>> attributes;
  ASSERT_TRUE(user->Attributes(attributes));
  ASSERT_TRUE(user->AttributeNamespaceUris(uris));
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[0].first, "p:action");
  EXPECT_EQ(uris, (std::vector<std::string>{"urn:p", ""}));
  std::unique_ptr<XmlNode> cdata = user->FirstChild();
  ASSERT_NE(cdata, nullptr);
  EXPECT_EQ(cdata->NodeType(), XmlNodeType::kCData);

  std::unique_ptr<XmlNode> config = user->NextSibling();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->NamespaceUri(), "urn:d");
  // Wine's MSXML orders the map its own way and leaves the default
  // declaration out; each URI still belongs to the attribute beside it.
  ASSERT_TRUE(config->Attributes(attributes));
  ASSERT_TRUE(config->AttributeNamespaceUris(uris));
  ASSERT_EQ(uris.size(), attributes.size());
  const std::map<std::string, std::string> expected = {
      {"xmlns", xmlns}, {"xmlns:q", xmlns}, {"q:mark", "urn:q"}};
  bool mark_seen = false;
  for (size_t i = 0; i < uris.size(); ++i) {
    SCOPED_TRACE(attributes[i].first);
    ASSERT_EQ(expected.count(attributes[i].first), 1u);
    EXPECT_EQ(uris[i], expected.at(attributes[i].first));
    mark_seen = mark_seen || attributes[i].first == "q:mark";
  }
  EXPECT_TRUE(mark_seen);
  std::unique_ptr<XmlNode> text = config->FirstChild();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->NodeType(), XmlNodeType::kText);
  EXPECT_EQ(text->NamespaceUri(), "");
}

TEST_F(MsxmlTest, NothingLoadedOrABadQuerySelectsNothing) {
  std::unique_ptr<XmlDocument> doc = xml_.CreateDocument(XmlClassVersion::k60);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->SelectNodes("//singleUser"), nullptr);
  ASSERT_TRUE(Load(kCommands));
  EXPECT_EQ(doc_->SelectNodes("//["), nullptr);
}

TEST_F(MsxmlTest, AMissingOrMalformedFileFailsTheLoadWithACode) {
  std::string text;
  ASSERT_TRUE(Load(kCommands));
  const std::string missing = WindowsPath(dir_ / "none.xml");
  EXPECT_FALSE(doc_->Load(missing));
  EXPECT_LT(doc_->ParseError().code, 0);  // the top bit set
  EXPECT_EQ(doc_->SelectNodes("//singleUser"), nullptr);

  EXPECT_FALSE(Load("<remoteCmd><singleUser></remoteCmd>\n", &text));
  EXPECT_LT(doc_->ParseError().code, 0);
  EXPECT_EQ(text.rfind("Validation failed on " + WindowsPath(dir_ / "c.xml") + " \n", 0), 0u) << text;
}

TEST_F(MsxmlTest, ASchemaThatCannotBeReadIsRefused) {
  std::shared_ptr<XmlSchemaCache> cache = xml_.CreateSchemaCache(XmlClassVersion::k60);
  ASSERT_NE(cache, nullptr);
  EXPECT_FALSE(cache->Add("", WindowsPath(dir_ / "absent.xsd")));
  EXPECT_TRUE(cache->Add("", Put("s.xsd", kSchema)));
}

// What the command-store writers build, saved by MSXML: the declaration
// on a line of its own, no white space inside the root, UTF-8 text.
TEST_F(MsxmlTest, ACommandStoreDocumentIsSavedAsBuilt) {
  std::unique_ptr<XmlDocument> doc = xml_.CreateDocument(XmlClassVersion::k60);
  ASSERT_NE(doc, nullptr);
  doc->SetPreserveWhiteSpace(true);
  ASSERT_TRUE(doc->AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\""));
  std::unique_ptr<XmlElement> root = doc->CreateElement("cmdstore");
  std::unique_ptr<XmlElement> cmd = doc->CreateElement("cmd");
  std::unique_ptr<XmlElement> user = doc->CreateElement("singleUser");
  ASSERT_TRUE(root && cmd && user);
  ASSERT_TRUE(doc->AppendChild(*root));
  ASSERT_TRUE(root->SetAttribute("xsi:type", "cmdstoreType"));
  ASSERT_TRUE(root->SetAttribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance"));
  ASSERT_TRUE(root->AppendChild(*cmd));
  ASSERT_TRUE(user->SetAttribute("action", "changePassword"));
  ASSERT_TRUE(user->SetAttribute("user", "J\xC3\xB6rg & <co>"));
  ASSERT_TRUE(cmd->AppendChild(*user));
  for (const char* bad : {"#text", "", "1st", "a:", ":a", "a:b:c", "a b"})
    EXPECT_EQ(doc->CreateElement(bad), nullptr) << bad;
  EXPECT_NE(doc->CreateElement("x:\xC3\xA9l\xC3\xA9ment-2.b"), nullptr);

  std::string saved;
  ASSERT_TRUE(doc->Serialize(saved));
  // MSXML on Windows ends both lines with CR LF, Wine's with LF.
  saved.erase(std::remove(saved.begin(), saved.end(), '\r'), saved.end());
  EXPECT_EQ(saved,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<cmdstore xsi:type=\"cmdstoreType\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
            "<cmd><singleUser action=\"changePassword\" user=\"J\xC3\xB6rg &amp; &lt;co&gt;\"/></cmd>"
            "</cmdstore>\n");
}

// What Wine's MSXML cannot show, against fakes of the COM objects.

// A parse-error object that reports the failure it was given.
class FakeParseError : public StubXMLDOMParseError {
 public:
  FakeParseError(LONG code, const wchar_t* reason, const wchar_t* source, LONG line)
      : code_(code), reason_(reason), source_(source), line_(line) {}
  HRESULT WINAPI get_errorCode(__LONG32* code) override { return *code = code_, S_OK; }
  HRESULT WINAPI get_reason(BSTR* text) override { return *text = SysAllocString(reason_), S_OK; }
  HRESULT WINAPI get_srcText(BSTR* text) override { return *text = SysAllocString(source_), S_OK; }
  HRESULT WINAPI get_line(__LONG32* line) override { return *line = line_, S_OK; }

 private:
  LONG code_;
  const wchar_t* reason_;
  const wchar_t* source_;
  LONG line_;
};

class FakeSchemaCollection : public StubXMLDOMSchemaCollection {
 public:
  HRESULT WINAPI add(BSTR, VARIANT) override { return S_OK; }
};

// A document that validates on load as MSXML does on Windows: it records
// the settings and, when validation was asked for against a schema, fails
// the load with the parse error of a document that breaks the schema.
class FakeDocument : public StubXMLDOMDocument2 {
 public:
  HRESULT WINAPI putref_schemas(VARIANT schemas) override {
    attached = schemas.vt == VT_DISPATCH && schemas.pdispVal != nullptr;
    return S_OK;
  }
  HRESULT WINAPI put_async(VARIANT_BOOL) override { return S_OK; }
  HRESULT WINAPI put_resolveExternals(VARIANT_BOOL) override { return S_OK; }
  HRESULT WINAPI put_validateOnParse(VARIANT_BOOL on) override {
    validate = on == VARIANT_TRUE;
    return refuse_validation ? E_FAIL : S_OK;
  }
  HRESULT WINAPI load(VARIANT, VARIANT_BOOL* ok) override {
    ++loads;
    *ok = VARIANT_FALSE;
    if (load_status != S_FALSE) return load_status;
    if (!(validate && attached)) return *ok = VARIANT_TRUE, S_OK;
    return S_FALSE;
  }
  HRESULT WINAPI get_parseError(IXMLDOMParseError** error) override {
    if (load_status != S_FALSE || !(validate && attached))
      *error = new FakeParseError(0, L"", L"", 0);
    else
      *error = new FakeParseError(static_cast<LONG>(0xC00CE169),
                                  L"The element 'remoteCmd' has an invalid child element 'bogus'.\r\n",
                                  L"  <bogus/>", 7);
    return S_OK;
  }

  bool attached = false, validate = false, refuse_validation = false;
  HRESULT load_status = S_FALSE;
  int loads = 0;
};

// Classes of the test's choosing: the fake document and cache for 6.0,
// nothing registered for the versions in `missing`.
class FakeClasses {
 public:
  ComFactory Factory() {
    return [this](const CLSID& clsid, const IID&, void** out) -> HRESULT {
      *out = nullptr;
      for (XmlClassVersion v : missing)
        if (IsEqualCLSID(clsid, MsxmlDocumentClass(v)) || IsEqualCLSID(clsid, MsxmlSchemaCacheClass(v)))
          return REGDB_E_CLASSNOTREG;
      if (IsEqualCLSID(clsid, MsxmlSchemaCacheClass(XmlClassVersion::k60)) ||
          IsEqualCLSID(clsid, MsxmlSchemaCacheClass(XmlClassVersion::k30))) {
        *out = static_cast<IXMLDOMSchemaCollection*>(new FakeSchemaCollection);
        return S_OK;
      }
      if (document) document->Release();
      document = new FakeDocument;
      document->AddRef();  // the test looks at it after the layer let go
      *out = static_cast<IXMLDOMDocument2*>(document);
      return S_OK;
    };
  }
  ~FakeClasses() {
    if (document) document->Release();
  }
  std::vector<XmlClassVersion> missing;
  FakeDocument* document = nullptr;
};

class MsxmlFakeTest : public ComTest {
 protected:
  bool Load(std::string& text) {
    MsxmlServices xml(classes_.Factory());
    XmlLoadContext ctx{xml, files_, debug_, strings_};
    files_.files["s.xsd"] = "";
    return LoadAndValidateXml(ctx, doc_, "C:\\cmd\\c.xml", "s.xsd", text);
  }
  FakeClasses classes_;
  MemoryFiles files_;
  RecordingDebug debug_;
  FakeStrings strings_;
  std::unique_ptr<XmlDocument> doc_;
};

TEST_F(MsxmlFakeTest, AValidationFailureComesBackAsTheParseErrorSays) {
  std::string text;
  EXPECT_FALSE(Load(text));
  ASSERT_NE(classes_.document, nullptr);
  EXPECT_TRUE(classes_.document->validate);
  EXPECT_TRUE(classes_.document->attached);
  EXPECT_EQ(text,
            "Validation failed on C:\\cmd\\c.xml \n=====================\n"
            "Reason: The element 'remoteCmd' has an invalid child element 'bogus'.\r\n\n"
            "Source:   <bogus/>\nLine: 7\n");
  EXPECT_TRUE(debug_.Has("The Error Code is c00ce169, and the error String is " + text));
  const XmlParseError e = doc_->ParseError();
  EXPECT_EQ(static_cast<uint32_t>(e.code), 0xC00CE169u);
  EXPECT_EQ(e.line, 7);
}

TEST_F(MsxmlFakeTest, AMissingClassIsPassedOverForTheNextVersion) {
  classes_.missing = {XmlClassVersion::k60};
  std::string text;
  EXPECT_FALSE(Load(text));
  EXPECT_EQ(std::vector<std::string>(debug_.lines.begin(), debug_.lines.begin() + 3),
            (std::vector<std::string>{"pXD.CreateInstance MSXML2::DOMDocument60 Failed",
                                      "pXS.CreateInstance MSXML2::XMLSchemaCache60 Failed",
                                      "pXS.CreateInstance MSXML2::XMLSchemaCache successful."}));
  ASSERT_NE(classes_.document, nullptr);
  EXPECT_EQ(classes_.document->loads, 1);
}

// A load that fails without filling the parse error, and a document that
// refuses to validate, are failures: neither may pass as a valid document.
TEST_F(MsxmlFakeTest, ALoadIsNeverTakenForValidWithoutValidation) {
  MsxmlServices xml(classes_.Factory());
  std::unique_ptr<XmlDocument> doc = xml.CreateDocument(XmlClassVersion::k60);
  ASSERT_NE(doc, nullptr);
  classes_.document->load_status = E_ACCESSDENIED;
  EXPECT_FALSE(doc->Load("c.xml"));
  EXPECT_EQ(doc->ParseError().code, static_cast<int32_t>(E_ACCESSDENIED));

  std::unique_ptr<XmlDocument> refusing = xml.CreateDocument(XmlClassVersion::k60);
  classes_.document->refuse_validation = true;
  refusing->SetSchemas(xml.CreateSchemaCache(XmlClassVersion::k60));
  refusing->SetValidateOnParse(true);
  EXPECT_FALSE(refusing->Load("c.xml"));
  EXPECT_EQ(classes_.document->loads, 0);
  EXPECT_EQ(refusing->ParseError().reason, "The document refused its validateOnParse setting.");
  EXPECT_EQ(refusing->SelectNodes("//x"), nullptr);
}

}  // namespace
}  // namespace kvx
