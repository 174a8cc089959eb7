#pragma once
// The platform's XML services: DOM documents loaded with validation
// against a registered XSD 1.0 schema, XPath 1.0 selection, and the node
// properties that the tool reads. Shaped after the COM interfaces of the
// Windows XML services so that an implementation over them is thin.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kvx {

// The document and schema-cache classes, in the order the tool tries them.
enum class XmlClassVersion { k60, k30, k40, k26 };

// The outcome of the last load: code 0 after a good load, otherwise a
// non-zero code (top bit set), the reason, the offending source line's text
// and its 1-based line number (0 when no line is concerned).
struct XmlParseError {
  int32_t code = 0;
  std::string reason;
  std::string src_text;
  long line = 0;
};

// The kinds of node the tool tells apart.
enum class XmlNodeType { kElement, kText, kCData, kProcessingInstruction, kComment, kDocument, kOther };

// The namespace every namespace declaration (xmlns, xmlns:p) is in.
inline constexpr const char* kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

// One node of a loaded document; valid while its document lives.
class XmlNode {
 public:
  virtual ~XmlNode() = default;
  virtual XmlNodeType NodeType() = 0;
  // The qualified name of an element or attribute, the target of a
  // processing instruction, or the fixed names "#text", "#comment",
  // "#cdata-section", "#document".
  virtual std::string NodeName() = 0;
  // The concatenated text of the node and all its descendants.
  virtual std::string Text() = 0;
  // The node's markup as the DOM serialises it, its own tags included.
  virtual std::string Xml() = 0;
  virtual bool HasChildNodes() = 0;
  // Null past the last child or sibling.
  virtual std::unique_ptr<XmlNode> FirstChild() = 0;
  virtual std::unique_ptr<XmlNode> NextSibling() = 0;
  // The attribute map as (name with prefix, value with references
  // resolved) pairs in document order, namespace declarations included
  // where the start tag writes them.
  // False for node kinds that carry no attribute map.
  virtual bool Attributes(std::vector<std::pair<std::string, std::string>>& out) = 0;
  // The namespace URI of an element's name: "" when the name is in no
  // namespace.
  virtual std::string NamespaceUri() = 0;
  // The namespace URIs of the attributes, one per entry of Attributes() and
  // in its order: "" for an attribute without a prefix, the xmlns namespace
  // "http://www.w3.org/2000/xmlns/" for a namespace declaration. False
  // where Attributes() is false.
  virtual bool AttributeNamespaceUris(std::vector<std::string>& out) = 0;
};

// The result of a selection, in document order.
class XmlNodeList {
 public:
  virtual ~XmlNodeList() = default;
  virtual long Length() = 0;
  // Null when `index` is out of range.
  virtual std::unique_ptr<XmlNode> Item(long index) = 0;
};

// An element of a document being built, not yet or already placed in it.
class XmlElement {
 public:
  virtual ~XmlElement() = default;
  // Sets an attribute, in the order of the calls; a name with a prefix
  // ("xsi:type", "xmlns:xsi") is taken as written.
  virtual bool SetAttribute(const std::string& name, const std::string& value) = 0;
  // Appends `child` as this element's last child.
  virtual bool AppendChild(XmlElement& child) = 0;
};

// A collection of compiled schemas, one per target namespace.
class XmlSchemaCache {
 public:
  virtual ~XmlSchemaCache() = default;
  // Compiles the XSD at `location` and registers it for `name_space`
  // ("" for a schema without a target namespace). False when the schema
  // cannot be read or compiled, or declares another target namespace.
  virtual bool Add(const std::string& name_space, const std::string& location) = 0;
};

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;
  // The schemas a load validates against; the document keeps a reference.
  virtual void SetSchemas(std::shared_ptr<XmlSchemaCache> schemas) = 0;
  virtual void SetAsync(bool on) = 0;
  virtual void SetValidateOnParse(bool on) = 0;
  // External entities and DTDs are loaded from local files only; a
  // network resource is never fetched.
  virtual void SetResolveExternals(bool on) = 0;
  // Off (the default): white-space-only text nodes are dropped.
  virtual void SetPreserveWhiteSpace(bool on) = 0;
  // Parses the file at `path` (a Windows path) and validates it. The
  // outcome is in ParseError(); the result says the same. The error's line
  // counts CR LF, CR and LF alike, and its source text is that line decoded
  // to UTF-8 (no byte-order mark), whatever the file's encoding.
  virtual bool Load(const std::string& path) = 0;
  virtual XmlParseError ParseError() = 0;
  // Runs an XPath 1.0 query from the document node. Null for an invalid
  // query or when nothing is loaded.
  virtual std::unique_ptr<XmlNodeList> SelectNodes(const std::string& query) = 0;

  // Building a document to save. A processing instruction and elements are
  // appended to the document in the order of the calls.
  virtual bool AppendProcessingInstruction(const std::string& target, const std::string& data) = 0;
  // Null when `name` is not a valid element name.
  virtual std::unique_ptr<XmlElement> CreateElement(const std::string& name) = 0;
  virtual bool AppendChild(XmlElement& child) = 0;
  // The document as the DOM saves it to a file (UTF-8, as it serialises
  // it), for the caller to write where it chooses.
  virtual bool Serialize(std::string& bytes) = 0;
};

// The class factory of the XML services.
class XmlServices {
 public:
  virtual ~XmlServices() = default;
  // Null when the class of that version is not available.
  virtual std::unique_ptr<XmlDocument> CreateDocument(XmlClassVersion version) = 0;
  virtual std::shared_ptr<XmlSchemaCache> CreateSchemaCache(XmlClassVersion version) = 0;
};

}  // namespace kvx
