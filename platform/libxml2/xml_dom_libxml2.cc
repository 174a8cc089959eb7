#include "platform/libxml2/xml_dom_libxml2.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/schemasInternals.h>
#include <libxml/xmlschemas.h>
#include <libxml/xpath.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "core/format.h"

namespace kvx {

namespace {

std::string ToString(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

// External resources (entities, DTDs, schema imports) come from local files
// only: any URL with a scheme other than file is refused, never fetched.
xmlParserInputPtr LocalOnlyLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
  if (url != nullptr) {
    const char* colon = std::strstr(url, "://");
    if (colon != nullptr && std::strncmp(url, "file://", 7) != 0) return nullptr;
  }
  return xmlNoNetExternalEntityLoader(url, id, ctxt);
}

void IgnoreGenericError(void*, const char*, ...) {}
void IgnoreStructuredError(void*, xmlErrorPtr) {}

void InitLibxml2Once() {
  static const bool done = [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(LocalOnlyLoader);
    // libxml2 writes to stderr unless told otherwise; the tool's console
    // carries only its own texts.
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
    xmlSetStructuredErrorFunc(nullptr, IgnoreStructuredError);
    return true;
  }();
  (void)done;
}

// Collects the first error of a parse or a validation; when there is none,
// the first warning, which is how libxml2 reports a file it cannot open.
struct ErrorSink {
  struct Entry {
    bool have = false;
    int domain = 0;
    int code = 0;
    std::string message;
    long line = 0;
  };
  Entry error, warning;
  bool have = false;  // an error (not a warning) was seen

  static void Collect(void* self, xmlErrorPtr e) {
    auto* sink = static_cast<ErrorSink*>(self);
    if (e == nullptr) return;
    Entry& slot = e->level >= XML_ERR_ERROR ? sink->error : sink->warning;
    if (slot.have) return;
    slot.have = true;
    slot.domain = e->domain;
    slot.code = e->code;
    slot.message = ToString(reinterpret_cast<const xmlChar*>(e->message));
    while (!slot.message.empty() && (slot.message.back() == '\n' || slot.message.back() == ' '))
      slot.message.pop_back();
    slot.line = e->line;
    sink->have = sink->error.have;
  }

  void Set(int domain, int code, std::string message, long line) {
    error = Entry{true, domain, code, std::move(message), line};
    have = true;
  }

  // The entry that describes the failure: the error, else the warning.
  const Entry* Best() const {
    if (error.have) return &error;
    if (warning.have) return &warning;
    return nullptr;
  }
};

// The text of line `line` (from 1) of the file, without its line end.
std::string SourceLine(const std::string& native, long line) {
  if (line <= 0) return std::string();
  FILE* f = std::fopen(native.c_str(), "rbe");
  if (f == nullptr) return std::string();
  std::string text;
  long current = 1;
  int c;
  while ((c = std::fgetc(f)) != EOF) {
    if (c == '\n') {
      if (current == line) break;
      ++current;
      continue;
    }
    if (current == line) text += static_cast<char>(c);
  }
  std::fclose(f);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

bool IsBlank(const xmlChar* s) {
  if (s == nullptr) return true;
  for (; *s; ++s)
    if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return false;
  return true;
}

// Drops white-space-only text nodes, as the DOM does when white space is
// not preserved; xml:space="preserve" keeps them below it.
void StripBlankText(xmlNodePtr node) {
  for (xmlNodePtr child = node->children; child != nullptr;) {
    xmlNodePtr next = child->next;
    if (child->type == XML_TEXT_NODE && IsBlank(child->content)) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    } else if (child->type == XML_ELEMENT_NODE && xmlNodeGetSpacePreserve(child) != 1) {
      StripBlankText(child);
    }
    child = next;
  }
}

class Libxml2Node : public XmlNode {
 public:
  Libxml2Node(xmlDocPtr doc, xmlNodePtr node) : doc_(doc), node_(node) {}

  std::string NodeName() override {
    switch (node_->type) {
      case XML_ELEMENT_NODE:
      case XML_ATTRIBUTE_NODE:
        if (node_->ns != nullptr && node_->ns->prefix != nullptr)
          return ToString(node_->ns->prefix) + ":" + ToString(node_->name);
        return ToString(node_->name);
      case XML_TEXT_NODE: return "#text";
      case XML_CDATA_SECTION_NODE: return "#cdata-section";
      case XML_COMMENT_NODE: return "#comment";
      case XML_DOCUMENT_NODE: return "#document";
      default: return ToString(node_->name);
    }
  }

  std::string Text() override {
    xmlChar* content = xmlNodeGetContent(node_);
    std::string text = ToString(content);
    xmlFree(content);
    return text;
  }

  std::string Xml() override {
    xmlBufferPtr buf = xmlBufferCreate();
    xmlNodeDump(buf, doc_, node_, 0, 0);
    std::string text = ToString(xmlBufferContent(buf));
    xmlBufferFree(buf);
    return text;
  }

  bool HasChildNodes() override {
    return node_->type != XML_ATTRIBUTE_NODE && node_->children != nullptr;
  }

  std::unique_ptr<XmlNode> FirstChild() override {
    if (!HasChildNodes()) return nullptr;
    return std::make_unique<Libxml2Node>(doc_, node_->children);
  }

  std::unique_ptr<XmlNode> NextSibling() override {
    if (node_->next == nullptr) return nullptr;
    return std::make_unique<Libxml2Node>(doc_, node_->next);
  }

  bool Attributes(std::vector<std::pair<std::string, std::string>>& out) override {
    out.clear();
    if (node_->type != XML_ELEMENT_NODE) return false;
    for (xmlNsPtr ns = node_->nsDef; ns != nullptr; ns = ns->next)
      out.emplace_back(ns->prefix ? "xmlns:" + ToString(ns->prefix) : "xmlns", ToString(ns->href));
    for (xmlAttrPtr a = node_->properties; a != nullptr; a = a->next) {
      std::string name = ToString(a->name);
      if (a->ns != nullptr && a->ns->prefix != nullptr) name = ToString(a->ns->prefix) + ":" + name;
      xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
      out.emplace_back(std::move(name), ToString(value));
      xmlFree(value);
    }
    return true;
  }

 private:
  xmlDocPtr doc_;
  xmlNodePtr node_;
};

class Libxml2NodeList : public XmlNodeList {
 public:
  Libxml2NodeList(xmlDocPtr doc, std::vector<xmlNodePtr> nodes)
      : doc_(doc), nodes_(std::move(nodes)) {}
  long Length() override { return static_cast<long>(nodes_.size()); }
  std::unique_ptr<XmlNode> Item(long index) override {
    if (index < 0 || index >= Length()) return nullptr;
    return std::make_unique<Libxml2Node>(doc_, nodes_[static_cast<size_t>(index)]);
  }

 private:
  xmlDocPtr doc_;
  std::vector<xmlNodePtr> nodes_;
};

class Libxml2Element : public XmlElement {
 public:
  explicit Libxml2Element(xmlNodePtr node) : node_(node) {}
  // An element never placed in its document is freed with its wrapper.
  ~Libxml2Element() override {
    if (node_->parent == nullptr) xmlFreeNode(node_);
  }
  bool SetAttribute(const std::string& name, const std::string& value) override {
    return xmlNewProp(node_, X(name), X(value)) != nullptr;
  }
  bool AppendChild(XmlElement& child) override {
    return xmlAddChild(node_, static_cast<Libxml2Element&>(child).node_) != nullptr;
  }
  xmlNodePtr node() const { return node_; }

 private:
  xmlNodePtr node_;
};

class Libxml2SchemaCache : public XmlSchemaCache {
 public:
  explicit Libxml2SchemaCache(XmlPathResolver resolver) : resolver_(std::move(resolver)) {}
  ~Libxml2SchemaCache() override {
    for (auto& [ns, schema] : schemas_) xmlSchemaFree(schema);
  }

  bool Add(const std::string& name_space, const std::string& location) override {
    std::string native;
    if (!resolver_(location, native)) return false;
    struct stat st;
    if (stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    xmlSchemaParserCtxtPtr pc = xmlSchemaNewParserCtxt(native.c_str());
    if (pc == nullptr) return false;
    xmlSchemaSetParserStructuredErrors(pc, IgnoreStructuredError, nullptr);
    xmlSchemaPtr schema = xmlSchemaParse(pc);
    xmlSchemaFreeParserCtxt(pc);
    if (schema == nullptr) return false;
    if (ToString(schema->targetNamespace) != name_space) {
      xmlSchemaFree(schema);
      return false;
    }
    auto it = schemas_.find(name_space);
    if (it != schemas_.end()) {
      xmlSchemaFree(it->second);
      it->second = schema;
    } else {
      schemas_.emplace(name_space, schema);
    }
    return true;
  }

  // The schema for the namespace of a document's root element, or null.
  xmlSchemaPtr For(const std::string& name_space) const {
    auto it = schemas_.find(name_space);
    return it == schemas_.end() ? nullptr : it->second;
  }
  bool empty() const { return schemas_.empty(); }

 private:
  XmlPathResolver resolver_;
  std::map<std::string, xmlSchemaPtr> schemas_;
};

class Libxml2Document : public XmlDocument {
 public:
  explicit Libxml2Document(XmlPathResolver resolver) : resolver_(std::move(resolver)) {}
  ~Libxml2Document() override { Free(); }

  void SetSchemas(std::shared_ptr<XmlSchemaCache> schemas) override {
    schemas_ = std::dynamic_pointer_cast<Libxml2SchemaCache>(schemas);
  }
  void SetAsync(bool) override {}  // loads are always synchronous here
  void SetValidateOnParse(bool on) override { validate_ = on; }
  void SetResolveExternals(bool on) override { resolve_externals_ = on; }
  void SetPreserveWhiteSpace(bool on) override { preserve_white_space_ = on; }

  bool Load(const std::string& path) override {
    Free();
    error_ = XmlParseError();
    std::string native;
    if (!resolver_(path, native)) native = path;

    ErrorSink sink;
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr) return Fail(sink, native, XML_FROM_MEMORY, XML_ERR_NO_MEMORY, "out of memory");
    int options = XML_PARSE_NONET | XML_PARSE_BIG_LINES;
    if (resolve_externals_) options |= XML_PARSE_NOENT | XML_PARSE_DTDLOAD;
    // Blank text is not even built where libxml2 can tell it is ignorable;
    // the pass after the parse drops what it keeps.
    if (!preserve_white_space_) options |= XML_PARSE_NOBLANKS;
    xmlSetStructuredErrorFunc(&sink, ErrorSink::Collect);
    doc_ = xmlCtxtReadFile(ctxt, native.c_str(), nullptr, options);
    const bool well_formed = ctxt->wellFormed != 0;
    xmlFreeParserCtxt(ctxt);
    xmlSetStructuredErrorFunc(nullptr, IgnoreStructuredError);

    if (doc_ == nullptr || !well_formed || sink.have) {
      Free();
      return Fail(sink, native, XML_FROM_PARSER, XML_ERR_DOCUMENT_EMPTY, "The document could not be loaded.");
    }
    xmlNodePtr root = xmlDocGetRootElement(doc_);
    if (!preserve_white_space_ && root != nullptr) StripBlankText(root);

    if (validate_ && schemas_ && !schemas_->empty()) {
      const std::string ns = root && root->ns ? ToString(root->ns->href) : "";
      xmlSchemaPtr schema = schemas_->For(ns);
      if (schema == nullptr) {
        sink.Set(XML_FROM_SCHEMASV, XML_SCHEMAV_CVC_ELT_1,
                 "No schema is registered for the namespace '" + ns + "' of the root element.",
                 root ? xmlGetLineNo(root) : 0);
      } else {
        xmlSchemaValidCtxtPtr vc = xmlSchemaNewValidCtxt(schema);
        xmlSchemaSetValidStructuredErrors(vc, ErrorSink::Collect, &sink);
        const int rc = xmlSchemaValidateDoc(vc, doc_);
        xmlSchemaFreeValidCtxt(vc);
        if (rc != 0 && !sink.have)
          sink.Set(XML_FROM_SCHEMASV, rc > 0 ? rc : XML_SCHEMAV_INTERNAL,
                   "The document is not valid against the schema.", 0);
      }
      if (sink.have) return Fail(sink, native, 0, 0, "");
    }
    return true;
  }

  XmlParseError ParseError() override { return error_; }

  bool AppendProcessingInstruction(const std::string& target, const std::string& data) override {
    xmlNodePtr pi = xmlNewDocPI(Built(), X(target), X(data));
    return pi != nullptr && xmlAddChild(reinterpret_cast<xmlNodePtr>(doc_), pi) != nullptr;
  }

  std::unique_ptr<XmlElement> CreateElement(const std::string& name) override {
    if (xmlValidateQName(X(name), 0) != 0) return nullptr;
    xmlNodePtr node = xmlNewDocNode(Built(), nullptr, X(name), nullptr);
    if (node == nullptr) return nullptr;
    return std::make_unique<Libxml2Element>(node);
  }

  bool AppendChild(XmlElement& child) override {
    xmlNodePtr node = static_cast<Libxml2Element&>(child).node();
    return xmlAddChild(reinterpret_cast<xmlNodePtr>(Built()), node) != nullptr;
  }

  bool Save(const std::string& path) override {
    std::string native;
    if (doc_ == nullptr || !resolver_(path, native)) return false;
    // The document carries its own declaration as a processing instruction.
    xmlSaveCtxtPtr save = xmlSaveToFilename(native.c_str(), "UTF-8", XML_SAVE_NO_DECL);
    if (save == nullptr) return false;
    const long written = xmlSaveDoc(save, doc_);
    return xmlSaveClose(save) >= 0 && written >= 0;
  }

  std::unique_ptr<XmlNodeList> SelectNodes(const std::string& query) override {
    if (doc_ == nullptr) return nullptr;
    xmlXPathContextPtr ctx = xmlXPathNewContext(doc_);
    if (ctx == nullptr) return nullptr;
    xmlXPathObjectPtr result = xmlXPathEvalExpression(X(query), ctx);
    std::unique_ptr<XmlNodeList> list;
    if (result != nullptr && result->type == XPATH_NODESET) {
      std::vector<xmlNodePtr> nodes;
      if (xmlNodeSetPtr set = result->nodesetval)
        for (int i = 0; i < set->nodeNr; ++i)
          if (set->nodeTab[i]->type != XML_NAMESPACE_DECL) nodes.push_back(set->nodeTab[i]);
      list = std::make_unique<Libxml2NodeList>(doc_, std::move(nodes));
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(ctx);
    return list;
  }

 private:
  void Free() {
    if (doc_ != nullptr) xmlFreeDoc(doc_);
    doc_ = nullptr;
  }

  // The document being built, created on first use.
  xmlDocPtr Built() {
    if (doc_ == nullptr) doc_ = xmlNewDoc(X("1.0"));
    return doc_;
  }

  // Records the failure of a load: the sink's first error (or warning)
  // wins over the fallback description.
  bool Fail(const ErrorSink& sink, const std::string& native, int domain, int code,
            const char* fallback) {
    const ErrorSink::Entry* e = sink.Best();
    error_.code = e ? Libxml2ErrorCode(e->domain, e->code) : Libxml2ErrorCode(domain, code);
    error_.reason = e ? e->message : fallback;
    error_.line = e ? e->line : 0;
    if (e && e->domain == XML_FROM_IO && e->code == XML_IO_LOAD_ERROR) {
      // libxml2 says only that it could not load the file; say why.
      struct stat st;
      if (stat(native.c_str(), &st) != 0) error_.reason += std::string(": ") + std::strerror(errno);
    }
    error_.src_text = SourceLine(native, error_.line);
    return false;
  }

  XmlPathResolver resolver_;
  std::shared_ptr<Libxml2SchemaCache> schemas_;
  bool validate_ = false;
  bool resolve_externals_ = false;
  bool preserve_white_space_ = false;
  xmlDocPtr doc_ = nullptr;
  XmlParseError error_;
};

class Libxml2Services : public XmlServices {
 public:
  explicit Libxml2Services(XmlPathResolver resolver) : resolver_(std::move(resolver)) {
    InitLibxml2Once();
  }
  std::unique_ptr<XmlDocument> CreateDocument(XmlClassVersion) override {
    return std::make_unique<Libxml2Document>(resolver_);
  }
  std::shared_ptr<XmlSchemaCache> CreateSchemaCache(XmlClassVersion) override {
    return std::make_shared<Libxml2SchemaCache>(resolver_);
  }

 private:
  XmlPathResolver resolver_;
};

}  // namespace

int32_t Libxml2ErrorCode(int domain, int code) {
  return static_cast<int32_t>(0x80000000u | (static_cast<uint32_t>(domain & 0xFF) << 16) |
                              (static_cast<uint32_t>(code) & 0xFFFF));
}

std::unique_ptr<XmlServices> CreateLibxml2Services(XmlPathResolver resolver) {
  return std::make_unique<Libxml2Services>(std::move(resolver));
}

}  // namespace kvx
