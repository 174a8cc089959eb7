#include "xml/xml_loader.h"

#include <gtest/gtest.h>

#include <map>

#include "core/utf.h"
#include "platform/libxml2/xml_dom_libxml2.h"
#include "platform/posix/file_system_posix.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace kvx {
namespace {

using namespace kvx::testing;

// The class fallbacks, with fake XML services.
class LoaderFallbackTest : public ::testing::Test {
 protected:
  LoaderFallbackTest() { files.files["s.xsd"] = ""; }
  bool Load() {
    XmlLoadContext ctx{xml, files, debug, strings};
    return LoadAndValidateXml(ctx, document, "c.xml", "s.xsd", text);
  }
  FakeXml xml;
  MemoryFiles files;
  RecordingDebug debug;
  FakeStrings strings;
  std::unique_ptr<XmlDocument> document;
  std::string text;
};

TEST_F(LoaderFallbackTest, TheFirstRowThatAnswersIsTaken) {
  ASSERT_TRUE(Load());
  EXPECT_EQ(xml.calls, (std::vector<std::string>{"doc 60", "cache 60", "add  s.xsd", "schemas",
                                                 "sync", "validate", "externals", "load c.xml"}));
  EXPECT_EQ(debug.lines, (std::vector<std::string>{
                             "pXS.CreateInstance MSXML2::XMLSchemaCache successful.",
                             "pXD->load(c.xml) successful."}));
  EXPECT_NE(document, nullptr);
}

TEST_F(LoaderFallbackTest, VersionThreeIsTriedBeforeFour) {
  xml.documents = {XmlClassVersion::k30};
  xml.caches = {XmlClassVersion::k30};
  ASSERT_TRUE(Load());
  EXPECT_EQ(std::vector<std::string>(xml.calls.begin(), xml.calls.begin() + 4),
            (std::vector<std::string>{"doc 60", "doc 30", "cache 60", "cache 30"}));
  EXPECT_EQ(std::vector<std::string>(debug.lines.begin(), debug.lines.begin() + 3),
            (std::vector<std::string>{"pXD.CreateInstance MSXML2::DOMDocument60 Failed",
                                      "pXS.CreateInstance MSXML2::XMLSchemaCache60 Failed",
                                      "pXS.CreateInstance MSXML2::XMLSchemaCache successful."}));
}

TEST_F(LoaderFallbackTest, NoDocumentClassAtAll) {
  xml.documents.clear();
  EXPECT_FALSE(Load());
  EXPECT_EQ(debug.lines, (std::vector<std::string>{
                             "pXD.CreateInstance MSXML2::DOMDocument60 Failed",
                             "pXD.CreateInstance MSXML2::DOMDocument30 Failed",
                             "pXD.CreateInstance MSXML2::DOMDocument40 Failed",
                             "pXD.CreateInstance failed"}));
  EXPECT_EQ(document, nullptr);
}

TEST_F(LoaderFallbackTest, NoSchemaCacheLeavesTheCreatedDocument) {
  xml.documents = {XmlClassVersion::k26};
  xml.caches.clear();
  EXPECT_FALSE(Load());
  EXPECT_EQ(std::vector<std::string>(debug.lines.end() - 4, debug.lines.end()),
            (std::vector<std::string>{"pXS.CreateInstance MSXML2::XMLSchemaCache60 Failed",
                                      "pXS.CreateInstance MSXML2::XMLSchemaCache30 Failed",
                                      "pXS.CreateInstance MSXML2::XMLSchemaCache40 Failed",
                                      "pXS.CreateInstance MSXML2::XMLSchemaCache26 Failed"}));
  EXPECT_NE(document, nullptr);
}

TEST_F(LoaderFallbackTest, ASchemaTheCacheRefuses) {
  xml.add_ok = false;
  EXPECT_FALSE(Load());
  EXPECT_EQ(debug.lines.back(), "pXS->add failed");
  EXPECT_NE(document, nullptr);
  EXPECT_TRUE(text.empty());
}

TEST_F(LoaderFallbackTest, AMissingOrEmptySchemaPathCreatesNothing) {
  files.files.clear();
  EXPECT_FALSE(Load());
  EXPECT_EQ(debug.lines, (std::vector<std::string>{
                             "_waccess return Error, and the error number is 2",
                             "The file s.xsd is not existed"}));
  EXPECT_TRUE(xml.calls.empty());
  XmlLoadContext ctx{xml, files, debug, strings};
  EXPECT_FALSE(LoadAndValidateXml(ctx, document, "c.xml", "", text));
  EXPECT_EQ(debug.lines.back(), "The file  is not existed");
}

TEST_F(LoaderFallbackTest, AFailedLoadFillsTheValidationReport) {
  xml.load_error = {static_cast<int32_t>(0xC00CE558), "Bad tag", "<a><b></a>", 12};
  EXPECT_FALSE(Load());
  EXPECT_EQ(text,
            "Validation failed on c.xml \n=====================\nReason: Bad tag\nSource: "
            "<a><b></a>\nLine: 12\n");
  EXPECT_EQ(debug.lines.back(), "The Error Code is c00ce558, and the error String is " + text);
}

TEST(FillPlaceholders, ReplacesInOrderAndNothingElse) {
  EXPECT_EQ(FillPlaceholders("%s-%s %d %", {"a", "%s"}), "a-%s %d %");
  EXPECT_EQ(FillPlaceholders("%s %s %s", {"x"}), "x  ");
}

// The real XML services on files.
class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest()
      : xml(CreateLibxml2Services([](const std::string& w, std::string& n) {
          n = w;
          return true;
        })),
        map(dir.path()),
        files(map, dir.path() + "/temp") {
    WriteFile(dir / "KVXRemoteCmd.xsd", ReadFile(KVX_SOURCE_DIR "/xml/KVXRemoteCmd.xsd"));
  }
  bool Load(const std::string& name, const std::string& schema = "KVXRemoteCmd.xsd") {
    XmlLoadContext ctx{*xml, files, debug, strings};
    text.clear();
    return LoadAndValidateXml(ctx, document, dir / name, dir / schema, text);
  }

  TempDir dir;
  std::unique_ptr<XmlServices> xml;
  PathMap map;
  PosixFileSystem files;
  RecordingDebug debug;
  FakeStrings strings;
  std::unique_ptr<XmlDocument> document;
  std::string text;
};

TEST_F(LoaderTest, TheWholeVocabularyIsValid) {
  WriteFile(dir / "c.xml", ReadFile(KVX_SOURCE_DIR "/examples/commands.xml"));
  EXPECT_TRUE(Load("c.xml")) << text;
  WriteFile(dir / "e.xml", "<remoteCmd/>");
  EXPECT_TRUE(Load("e.xml")) << text;
  // Unknown children of configVA and the settings pass; so do any attributes of the settings.
  WriteFile(dir / "u.xml",
            "<remoteCmd><configVA><Mail action='0'/><whatever x='1'><deep/></whatever></configVA>"
            "<configRadio wifi='on'><bt state='off'>text</bt></configRadio></remoteCmd>");
  EXPECT_TRUE(Load("u.xml")) << text;
}

TEST_F(LoaderTest, SchemaViolationsAndMalformedFilesFailAlike) {
  WriteFile(dir / "a.xml", "<remoteCmd>\n  <deleteEverything/>\n</remoteCmd>\n");
  EXPECT_FALSE(Load("a.xml"));
  EXPECT_NE(text.find("Validation failed on " + (dir / "a.xml") + " \n"), std::string::npos) << text;
  EXPECT_NE(text.find("Reason: Element 'deleteEverything'"), std::string::npos) << text;
  EXPECT_NE(text.find("\nSource:   <deleteEverything/>\nLine: 2\n"), std::string::npos) << text;

  WriteFile(dir / "b.xml", "<remoteCmd>\n<singleUser user='a'>\n</remoteCmd>");
  EXPECT_FALSE(Load("b.xml"));
  EXPECT_NE(text.find("Line: 3\n"), std::string::npos) << text;

  WriteFile(dir / "c.xml", "<otherRoot/>");
  EXPECT_FALSE(Load("c.xml"));
  WriteFile(dir / "d.xml", "<remoteCmd><singleUser action='x' colour='red'/></remoteCmd>");
  EXPECT_FALSE(Load("d.xml"));
  WriteFile(dir / "e.xml", "");
  EXPECT_FALSE(Load("e.xml"));
  EXPECT_NE(text.find("Reason: Document is empty"), std::string::npos) << text;
}

TEST_F(LoaderTest, AMissingCommandFileGivesTheFileNotFoundReason) {
  EXPECT_FALSE(Load("absent.xml"));
  EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
  EXPECT_NE(text.find("Line: 0\n"), std::string::npos);
  ASSERT_FALSE(debug.lines.empty());
  EXPECT_EQ(debug.lines.back().rfind("The Error Code is 8008060d, and the error String is ", 0), 0u)
      << debug.lines.back();
}

TEST_F(LoaderTest, SchemasThatAreFoldersOrNamespacedAreRefused) {
  WriteFile(dir / "c.xml", "<remoteCmd/>");
  MakeDirs(dir / "folder.xsd");
  EXPECT_FALSE(Load("c.xml", "folder.xsd"));
  EXPECT_EQ(debug.lines.back(), "pXS->add failed");
  WriteFile(dir / "ns.xsd",
            "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:x'>"
            "<xs:element name='remoteCmd'/></xs:schema>");
  EXPECT_FALSE(Load("c.xml", "ns.xsd"));
  EXPECT_EQ(debug.lines.back(), "pXS->add failed");
  WriteFile(dir / "broken.xsd", "<xs:schema");
  EXPECT_FALSE(Load("c.xml", "broken.xsd"));
  EXPECT_EQ(debug.lines.back(), "pXS->add failed");
  EXPECT_FALSE(Load("c.xml", "absent.xsd"));
  EXPECT_EQ(debug.lines.back(), "The file " + (dir / "absent.xsd") + " is not existed");
}

TEST_F(LoaderTest, HostileDocumentsEndCleanly) {
  // Entity expansion bomb.
  std::string bomb = "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY l0 'lol'>";
  for (int i = 1; i < 10; ++i) {
    bomb += "<!ENTITY l" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) bomb += "&l" + std::to_string(i - 1) + ";";
    bomb += "'>";
  }
  bomb += "]><remoteCmd><configPower a='&l9;'/></remoteCmd>";
  WriteFile(dir / "bomb.xml", bomb);
  EXPECT_FALSE(Load("bomb.xml"));

  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  WriteFile(dir / "deep.xml", deep);
  EXPECT_FALSE(Load("deep.xml"));

  // An external entity on the network is never fetched: the load ends at
  // once, valid with the entity empty.
  WriteFile(dir / "net.xml",
            "<!DOCTYPE r [<!ENTITY e SYSTEM 'http://127.0.0.1:9/x'>]>"
            "<remoteCmd><configPower>&e;</configPower></remoteCmd>");
  EXPECT_TRUE(Load("net.xml")) << text;

  // A local external entity is resolved.
  WriteFile(dir / "part.ent", "<singleUser action='resetUser' user='john'/>");
  WriteFile(dir / "local.xml",
            "<!DOCTYPE remoteCmd [<!ENTITY p SYSTEM 'part.ent'>]><remoteCmd>&p;</remoteCmd>");
  ASSERT_TRUE(Load("local.xml")) << text;
  auto list = document->SelectNodes("//singleUser");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Length(), 1);

  static const char kGarbage[] = "\x00\xff\xfe garbage \x01\x02";
  WriteFile(dir / "garbage.xml", std::string(kGarbage, sizeof kGarbage - 1));
  EXPECT_FALSE(Load("garbage.xml"));
}

// The report's "Source:" is the offending line as an editor shows it, and
// "Line:" its number, whatever the encoding and line ends of the file.
TEST_F(LoaderTest, TheReportShowsTheDecodedLineAndItsNumber) {
  const std::string lines[] = {"<remoteCmd>", "<singleUser action='x' user='Jörg'/>",
                               "<deleteEverything größe='1'/>", "</remoteCmd>"};
  auto joined = [&](const std::string& end) {
    std::string text;
    for (const std::string& l : lines) text += l + end;
    return text;
  };
  const std::string expected = "\nSource: <deleteEverything größe='1'/>\nLine: 3\n";
  const std::u16string wide = Utf8ToUtf16(joined("\r\n"));
  const std::map<std::string, std::string> files = {
      {"utf16le.xml", "\xFF\xFE" + EncodeUtf16Bytes(wide, true)},
      {"utf16be.xml", "\xFE\xFF" + EncodeUtf16Bytes(wide, false)},
      {"cr.xml", joined("\r")},
      {"crlf.xml", joined("\r\n")},
      {"mark.xml", "\xEF\xBB\xBF" + joined("\n")},
  };
  for (const auto& [name, bytes] : files) {
    WriteFile(dir / name, bytes);
    EXPECT_FALSE(Load(name));
    EXPECT_NE(text.find(expected), std::string::npos) << name << ": " << text;
  }

  // A declared single-byte encoding; the declaration is line 1.
  WriteFile(dir / "latin1.xml",
            "<?xml version='1.0' encoding='ISO-8859-1'?>\n<remoteCmd>\n<deleteEverything gr\xF6\xDF" "e='1'/>\n</remoteCmd>\n");
  EXPECT_FALSE(Load("latin1.xml"));
  EXPECT_NE(text.find("\nSource: <deleteEverything größe='1'/>\nLine: 3\n"), std::string::npos) << text;

  // A malformed UTF-16 file, and a mark before an error on the first line.
  WriteFile(dir / "bad16.xml", "\xFF\xFE" + EncodeUtf16Bytes(u"<remoteCmd>\n<singleUser>\n</remoteCmd>"));
  EXPECT_FALSE(Load("bad16.xml"));
  EXPECT_NE(text.find("\nSource: </remoteCmd>\nLine: 3\n"), std::string::npos) << text;
  WriteFile(dir / "first.xml", "\xEF\xBB\xBF<remoteCmd><deleteEverything/></remoteCmd>");
  EXPECT_FALSE(Load("first.xml"));
  EXPECT_NE(text.find("\nSource: <remoteCmd><deleteEverything/></remoteCmd>\nLine: 1\n"),
            std::string::npos) << text;

  // The declaration on the report's line is as written, whatever label
  // the parse was given.
  for (const char* label : {"utf-8", "UTF8", "us-ascii"}) {
    const std::string line = std::string("<?xml version='1.0' encoding='") + label +
                             "'?><remoteCmd><deleteEverything/></remoteCmd>";
    WriteFile(dir / "label.xml", line + "\n");
    EXPECT_FALSE(Load("label.xml"));
    EXPECT_NE(text.find("\nSource: " + line + "\nLine: 1\n"), std::string::npos) << text;
  }

  // Bytes that are not text of the file's encoding end the load with the
  // line they stand on; an unknown encoding with the declaration's line.
  WriteFile(dir / "odd16.xml", "\xFF\xFE" + EncodeUtf16Bytes(u"<remoteCmd>\n<a/>") +
                                std::string("\x00\xD8<\x00", 4));
  EXPECT_FALSE(Load("odd16.xml"));
  EXPECT_NE(text.find("\nLine: 2\n"), std::string::npos) << text;
  WriteFile(dir / "unknown.xml", "<?xml version='1.0' encoding='x-no-such'?>\n<remoteCmd/>");
  EXPECT_FALSE(Load("unknown.xml"));
  EXPECT_NE(text.find("Reason: Unsupported encoding x-no-such\nSource: <?xml version='1.0' "
                      "encoding='x-no-such'?>\nLine: 1\n"),
            std::string::npos) << text;
}

TEST_F(LoaderTest, TheReportCountsLinesPastEntitiesAndFarDown) {
  // An element that an entity brings stands on the line of the reference.
  WriteFile(dir / "entity.xml",
            "<!DOCTYPE remoteCmd [\n<!ENTITY e '\n\n<deleteEverything/>'>\n]>\n<remoteCmd>\n"
            "<allUser action='resetUser'/>\n  &e;\n</remoteCmd>\n");
  EXPECT_FALSE(Load("entity.xml"));
  EXPECT_NE(text.find("\nSource:   &e;\nLine: 8\n"), std::string::npos) << text;

  std::string far = "<remoteCmd>";
  for (int i = 0; i < 70000; ++i) far += "\n";
  far += std::string(100000, ' ') + "<deleteEverything/></remoteCmd>";
  WriteFile(dir / "far.xml", far);
  EXPECT_FALSE(Load("far.xml"));
  EXPECT_NE(text.find("\nSource: " + std::string(100000, ' ') + "<deleteEverything/></remoteCmd>\nLine: 70001\n"),
            std::string::npos) << text.substr(0, 300);
}

TEST_F(LoaderTest, FilesInOtherEncodingsLoad) {
  const std::string doc = "<remoteCmd>\r\n<singleUser action='resetUser' user='Jörg'/></remoteCmd>";
  WriteFile(dir / "le.xml", "\xFF\xFE" + EncodeUtf16Bytes(Utf8ToUtf16(doc)));
  WriteFile(dir / "be.xml", "\xFE\xFF" + EncodeUtf16Bytes(Utf8ToUtf16("<?xml version='1.0' encoding='UTF-16'?>" + doc), false));
  WriteFile(dir / "latin1.xml", "<?xml version='1.0' encoding='ISO-8859-1'?><remoteCmd><singleUser action='resetUser' user='J\xF6rg'/></remoteCmd>");
  // An entity reads in the encoding it declares itself.
  WriteFile(dir / "part.ent", "<?xml encoding='ISO-8859-1'?><singleUser action='resetUser' user='J\xF6rg'/>");
  WriteFile(dir / "entity.xml", "\xFF\xFE" + EncodeUtf16Bytes(u"<?xml version='1.0' encoding='UTF-16'?>"
      u"<!DOCTYPE remoteCmd [<!ENTITY p SYSTEM 'part.ent'>]><remoteCmd>&p;</remoteCmd>"));
  for (const char* name : {"le.xml", "be.xml", "latin1.xml", "entity.xml"}) {
    ASSERT_TRUE(Load(name)) << name << ": " << text;
    auto list = document->SelectNodes("//singleUser");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Length(), 1);
    std::vector<std::pair<std::string, std::string>> attributes;
    ASSERT_TRUE(list->Item(0)->Attributes(attributes));
    EXPECT_EQ(attributes.at(1).second, "Jörg") << name;
  }
}

}  // namespace
}  // namespace kvx
