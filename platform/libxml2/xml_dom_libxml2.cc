#include "platform/libxml2/xml_dom_libxml2.h"

#include <libxml/SAX2.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/schemasInternals.h>
#include <libxml/xmlschemas.h>
#include <libxml/xpath.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>

#include "core/format.h"
#include "core/utf.h"

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

// The lines of the elements libxml2 cannot give one (from 65535 on), in
// the order the parse made them. Only a report looks one up, so they are
// kept in a plain list (a map over hundreds of thousands of elements made
// the parse of a big file two times slower), and looked up from its end:
// an address used again by a later element names that element.
class ElementLines {
 public:
  void Add(const xmlNode* node, long line) { entries_.emplace_back(node, line); }
  // Sets `line` when `node` is listed.
  void Find(const xmlNode* node, long& line) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
      if (it->first == node) {
        line = it->second;
        return;
      }
    }
  }
  void clear() { entries_ = {}; }

 private:
  std::vector<std::pair<const xmlNode*, long>> entries_;
};

// Collects the first error of a parse or a validation; when there is none,
// the first warning, which is how libxml2 reports a file it cannot open.
struct ErrorSink {
  struct Entry {
    bool have = false;
    int domain = 0;
    int code = 0;
    std::string message;
    long line = 0;
    std::string file;  // the file the line counts in; "" for the command file
  };
  Entry error, warning;
  bool have = false;  // an error (not a warning) was seen
  // The parse of the command file itself. An error met while the content of
  // an entity is parsed (libxml2 gives it a parser of its own) is placed on
  // the command file's line that holds the reference.
  xmlParserCtxtPtr main = nullptr;
  // The lines of the elements of the tree being validated.
  const ElementLines* lines = nullptr;

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
    slot.file = e->file != nullptr ? e->file : "";
    xmlParserCtxtPtr main = sink->main;
    if (main != nullptr && e->ctxt != nullptr && e->ctxt != main && main->input != nullptr) {
      slot.line = main->input->line;
      slot.file.clear();
    }
    if (sink->lines != nullptr && e->node != nullptr)
      sink->lines->Find(static_cast<const xmlNode*>(e->node), slot.line);
    sink->have = sink->error.have;
  }

  void Set(int domain, int code, std::string message, long line) {
    error = Entry{true, domain, code, std::move(message), line, std::string()};
    have = true;
  }

  // The entry that describes the failure: the error, else the warning.
  const Entry* Best() const {
    if (error.have) return &error;
    if (warning.have) return &warning;
    return nullptr;
  }
};

// The whole file, or false with errno set. Only a regular file is read: a
// pipe or a device is refused (EINVAL) without waiting for it. The buffer
// is sized once from the file's size and read into directly; a file that
// grows meanwhile is read to its end all the same.
bool ReadWholeFile(const std::string& native, std::string& bytes) {
  const int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    const int saved = !known ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    close(fd);
    errno = saved;
    return false;
  }
  FILE* f = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 ? fdopen(fd, "rb") : nullptr;
  if (f == nullptr) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return false;
  }
  bytes.clear();
  size_t have = 0;
  if (st.st_size > 0) bytes.resize(static_cast<size_t>(st.st_size));
  while (have < bytes.size()) {
    const size_t n = std::fread(&bytes[have], 1, bytes.size() - have, f);
    if (n == 0) break;
    have += n;
  }
  bytes.resize(have);
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  const bool ok = std::ferror(f) == 0;
  const int saved = errno;
  std::fclose(f);
  errno = saved;
  return ok;
}

bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Finds the value of the encoding pseudo-attribute of an XML declaration
// at the start of `text` (in an encoding that writes ASCII as ASCII): its
// offset and length. False when there is none.
bool FindDeclaredEncoding(const std::string& text, size_t& pos, size_t& length) {
  if (text.size() < 6 || text.compare(0, 5, "<?xml") != 0 || !IsXmlBlank(text[5])) return false;
  const size_t close = text.find("?>");
  const size_t limit = close == std::string::npos ? text.size() : close;
  pos = text.find("encoding");
  if (pos == std::string::npos || pos >= limit) return false;
  pos += 8;
  auto blanks = [&] {
    while (pos < limit && IsXmlBlank(text[pos])) ++pos;
  };
  blanks();
  if (pos >= limit || text[pos] != '=') return false;
  ++pos;
  blanks();
  if (pos >= limit || (text[pos] != '"' && text[pos] != '\'')) return false;
  const size_t end = text.find(text[pos], pos + 1);
  if (end == std::string::npos || end >= limit) return false;
  ++pos;
  length = end - pos;
  return true;
}

std::string DeclaredEncoding(const std::string& text) {
  size_t pos = 0, length = 0;
  return FindDeclaredEncoding(text, pos, length) ? text.substr(pos, length) : std::string();
}

// A file's text as the parser reads it: decoded to UTF-8 from the encoding
// its byte-order mark, its first bytes or its declaration name, without
// the mark, and with every line end (CR LF, CR, LF) made one LF, which is
// what an XML processor reads anyway. Counting LFs in it gives the line
// numbers an editor shows.
struct DecodedText {
  bool ok = false;
  std::string text;    // up to the failure when not ok
  std::string reason;  // why not ok
  int domain = 0;
  int code = 0;
};

// Takes the bytes over: text that is UTF-8 already becomes the result
// without a copy, its line ends made LF in place.
DecodedText DecodeXmlFile(std::string bytes) {
  DecodedText out;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const int probe = static_cast<int>(bytes.size() < 4 ? bytes.size() : 4);
  const xmlCharEncoding detected = xmlDetectCharEncoding(data, probe);
  xmlCharEncodingHandlerPtr handler = nullptr;
  std::string unsupported;
  if (detected == XML_CHAR_ENCODING_NONE || detected == XML_CHAR_ENCODING_UTF8) {
    // A UTF-8 mark decides; otherwise the declaration may name another
    // encoding that writes ASCII as ASCII.
    const bool mark = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const std::string name = mark ? std::string() : DeclaredEncoding(bytes);
    const xmlCharEncoding named =
        name.empty() ? XML_CHAR_ENCODING_UTF8 : xmlParseCharEncoding(name.c_str());
    // A label of a two- or four-byte encoding on bytes that read as ASCII
    // cannot be true; the bytes decide, as they do for the parser.
    const bool wide = named == XML_CHAR_ENCODING_UTF16LE || named == XML_CHAR_ENCODING_UTF16BE ||
                      named == XML_CHAR_ENCODING_UCS4LE || named == XML_CHAR_ENCODING_UCS4BE ||
                      named == XML_CHAR_ENCODING_UCS2;
    if (!name.empty() && named != XML_CHAR_ENCODING_UTF8 && !wide) {
      handler = xmlFindCharEncodingHandler(name.c_str());
      if (handler == nullptr) unsupported = name;
    }
  } else {
    handler = xmlGetCharEncodingHandler(detected);
    if (handler == nullptr) unsupported = ToString(BAD_CAST xmlGetCharEncodingName(detected));
  }
  std::string utf8;
  bool converted = unsupported.empty();
  if (handler == nullptr) {
    utf8 = std::move(bytes);
  } else {
    xmlBufferPtr in = xmlBufferCreate();
    xmlBufferPtr result = xmlBufferCreate();
    converted = in != nullptr && result != nullptr &&
                xmlBufferAdd(in, data, static_cast<int>(bytes.size())) == 0;
    // Converts as far as the bytes are text of the encoding.
    while (converted && xmlBufferLength(in) > 0) {
      const int before = xmlBufferLength(in);
      const int rc = xmlCharEncInFunc(handler, result, in);
      if (rc == -2) converted = false;
      else if (xmlBufferLength(in) == before) converted = false;  // a cut last character
    }
    if (result != nullptr) utf8.assign(reinterpret_cast<const char*>(xmlBufferContent(result)),
                                       static_cast<size_t>(xmlBufferLength(result)));
    xmlBufferFree(result);
    xmlBufferFree(in);
    xmlCharEncCloseFunc(handler);
  }
  if (utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) utf8.erase(0, 3);
  // The line ends, rewritten in place from the first CR on: the text only
  // shrinks.
  const void* first_cr = std::memchr(utf8.data(), '\r', utf8.size());
  if (first_cr != nullptr) {
    size_t to = static_cast<size_t>(static_cast<const char*>(first_cr) - utf8.data());
    for (size_t i = to; i < utf8.size(); ++i) {
      if (utf8[i] != '\r') {
        utf8[to++] = utf8[i];
      } else {
        utf8[to++] = '\n';
        if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
      }
    }
    utf8.resize(to);
  }
  out.text = std::move(utf8);
  out.ok = converted;
  if (!unsupported.empty()) {
    out.domain = XML_FROM_PARSER;
    out.code = XML_ERR_UNSUPPORTED_ENCODING;
    out.reason = "Unsupported encoding " + unsupported;
  } else if (!converted) {
    out.domain = XML_FROM_I18N;
    out.code = XML_I18N_CONV_FAILED;
    out.reason = "input conversion failed due to input error";
  }
  return out;
}

// The number of lines of decoded text (a final line without its LF
// counts).
long LineCount(const std::string& text) {
  long lines = 1;
  for (char c : text)
    if (c == '\n') ++lines;
  return lines;
}

// Line `line` (from 1) of decoded text, as text fit for a report: ill-formed
// UTF-8 and NULs become U+FFFD.
std::string LineOf(const std::string& text, long line) {
  if (line <= 0) return std::string();
  size_t start = 0;
  for (long current = 1; current < line; ++current) {
    start = text.find('\n', start);
    if (start == std::string::npos) return std::string();
    ++start;
  }
  const size_t end = text.find('\n', start);
  const std::string raw =
      text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::string shown;
  for (char c : Utf16ToUtf8(Utf8ToUtf16(raw))) {
    if (c == '\0') shown += "\xEF\xBF\xBD";
    else shown += c;
  }
  return shown;
}

std::string QualifiedName(const xmlNs* ns, const xmlChar* local) {
  return ns != nullptr && ns->prefix != nullptr ? ToString(ns->prefix) + ":" + ToString(local)
                                                : ToString(local);
}

std::string DeclarationName(const xmlNs* ns) {
  return ns->prefix != nullptr ? "xmlns:" + ToString(ns->prefix) : "xmlns";
}

// What a parse learns that libxml2's tree does not keep.
struct ParseRecord {
  // The qualified names of the attributes and namespace declarations of a
  // start tag, in the order they are written: libxml2 keeps declarations
  // apart from attributes.
  std::unordered_map<const xmlNode*, std::vector<std::string>> order;
  // The same by the element's shape (its name and libxml2's lists), for
  // the copies libxml2 makes when an entity is used again.
  std::unordered_map<std::string, std::vector<std::string>> order_by_shape;
  // The line of an element where libxml2 cannot store it (from 65535 on).
  ElementLines lines;

  static std::string Shape(const xmlNode* node) {
    std::string shape = QualifiedName(node->ns, node->name);
    for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) shape += " " + DeclarationName(ns);
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next)
      shape += " " + QualifiedName(a->ns, a->name);
    return shape;
  }

  // The written order of the element's names; null when libxml2's order
  // is the written one.
  const std::vector<std::string>* OrderOf(const xmlNode* node) const {
    if (node->nsDef == nullptr || node->properties == nullptr) return nullptr;
    if (auto it = order.find(node); it != order.end()) return &it->second;
    if (auto it = order_by_shape.find(Shape(node)); it != order_by_shape.end()) return &it->second;
    return nullptr;
  }

  void clear() {
    order.clear();
    order_by_shape.clear();
    lines.clear();
  }
};

// What the observing start-element handler needs; reached through the
// parser's _private field, which libxml2 hands on to the parsers of
// entity content.
struct ParseObserver {
  xmlParserCtxtPtr main = nullptr;
  ParseRecord* record = nullptr;
  // Whether the parse handed on a piece of text that is white space only.
  // A text node is made of such pieces, so without one no blank text node
  // exists, and there is nothing to drop after the parse.
  bool blank_text = false;
};

// The names in the start tag that ends at the parser's cursor. A
// well-formed start tag holds no "<" after its first character, so the
// last "<" before the cursor opens it.
std::vector<std::string> StartTagNames(xmlParserInputPtr input) {
  std::vector<std::string> names;
  if (input == nullptr || input->base == nullptr || input->cur == nullptr) return names;
  const char* base = reinterpret_cast<const char*>(input->base);
  const char* end = reinterpret_cast<const char*>(input->cur);
  const char* p = end;
  while (p > base && *(p - 1) != '<') --p;
  if (p == base) return names;
  while (p < end && !IsXmlBlank(*p) && *p != '/' && *p != '>') ++p;  // the element's name
  while (p < end) {
    while (p < end && IsXmlBlank(*p)) ++p;
    if (p >= end || *p == '/' || *p == '>') break;
    const char* name = p;
    while (p < end && !IsXmlBlank(*p) && *p != '=') ++p;
    names.emplace_back(name, p);
    while (p < end && *p != '"' && *p != '\'') ++p;
    if (p >= end) break;
    const char quote = *p++;
    while (p < end && *p != quote) ++p;
    ++p;
  }
  return names;
}

void ObservingStartElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                             const xmlChar* uri, int nb_namespaces, const xmlChar** namespaces,
                             int nb_attributes, int nb_defaulted, const xmlChar** attributes) {
  xmlSAX2StartElementNs(ctx, localname, prefix, uri, nb_namespaces, namespaces, nb_attributes,
                        nb_defaulted, attributes);
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  auto* observer = static_cast<ParseObserver*>(ctxt->_private);
  xmlNodePtr node = ctxt->node;
  if (observer == nullptr || node == nullptr || node->type != XML_ELEMENT_NODE) return;
  ParseRecord& record = *observer->record;
  if (nb_namespaces > 0 && nb_attributes > nb_defaulted) {
    std::vector<std::string> names = StartTagNames(ctxt->input);
    record.order_by_shape[ParseRecord::Shape(node)] = names;
    record.order[node] = std::move(names);
  }
  // An element from the content of an entity counts as standing where the
  // entity is referenced: its line is that of the reference.
  xmlParserInputPtr at = ctxt != observer->main ? observer->main->input : ctxt->input;
  if (at == nullptr) return;
  node->line = static_cast<unsigned short>(at->line < 65535 ? at->line : 65535);
  if (at->line >= 65535) record.lines.Add(node, at->line);
}

bool IsBlank(const xmlChar* s) {
  if (s == nullptr) return true;
  for (; *s; ++s)
    if (!IsXmlBlank(static_cast<char>(*s))) return false;
  return true;
}

void ObservingCharacters(void* ctx, const xmlChar* ch, int len) {
  xmlSAX2Characters(ctx, ch, len);
  auto* observer = static_cast<ParseObserver*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
  if (observer == nullptr || observer->blank_text) return;
  int i = 0;
  while (i < len && IsXmlBlank(static_cast<char>(ch[i]))) ++i;
  if (i == len) observer->blank_text = true;
}

// An element's own xml:space, as xmlNodeGetSpacePreserve reads each
// element on its way up: 1 for "preserve", 0 for "default", -1 for none or
// another value (which leaves the decision to the parent).
int OwnSpacePreserve(xmlNodePtr element) {
  xmlChar* space = xmlGetNsProp(element, BAD_CAST "space", XML_XML_NAMESPACE);
  if (space == nullptr) return -1;
  const int own = xmlStrEqual(space, BAD_CAST "preserve") ? 1 : xmlStrEqual(space, BAD_CAST "default") ? 0 : -1;
  xmlFree(space);
  return own;
}

// Drops white-space-only text nodes below `node`, as the DOM does when
// white space is not preserved; xml:space="preserve" keeps them below it.
// `preserve` is xmlNodeGetSpacePreserve(node), handed down so that each
// element reads only its own attribute.
void StripBlankText(xmlNodePtr node, int preserve) {
  for (xmlNodePtr child = node->children; child != nullptr;) {
    xmlNodePtr next = child->next;
    if (child->type == XML_TEXT_NODE && IsBlank(child->content)) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    } else if (child->type == XML_ELEMENT_NODE) {
      const int own = OwnSpacePreserve(child);
      const int effective = own != -1 ? own : preserve;
      if (effective != 1) StripBlankText(child, effective);
    }
    child = next;
  }
}

class Libxml2Node : public XmlNode {
 public:
  Libxml2Node(xmlDocPtr doc, xmlNodePtr node, const ParseRecord* record)
      : doc_(doc), node_(node), record_(record) {}

  XmlNodeType NodeType() override {
    switch (node_->type) {
      case XML_ELEMENT_NODE: return XmlNodeType::kElement;
      case XML_TEXT_NODE: return XmlNodeType::kText;
      case XML_CDATA_SECTION_NODE: return XmlNodeType::kCData;
      case XML_PI_NODE: return XmlNodeType::kProcessingInstruction;
      case XML_COMMENT_NODE: return XmlNodeType::kComment;
      case XML_DOCUMENT_NODE: return XmlNodeType::kDocument;
      default: return XmlNodeType::kOther;
    }
  }

  std::string NodeName() override {
    switch (node_->type) {
      case XML_ELEMENT_NODE:
      case XML_ATTRIBUTE_NODE: return QualifiedName(node_->ns, node_->name);
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
    return std::make_unique<Libxml2Node>(doc_, node_->children, record_);
  }

  std::unique_ptr<XmlNode> NextSibling() override {
    if (node_->next == nullptr) return nullptr;
    return std::make_unique<Libxml2Node>(doc_, node_->next, record_);
  }

  bool Attributes(std::vector<std::pair<std::string, std::string>>& out) override {
    out.clear();
    if (node_->type != XML_ELEMENT_NODE) return false;
    for (Entry& e : Entries()) out.emplace_back(std::move(e.name), std::move(e.value));
    return true;
  }

  std::string NamespaceUri() override {
    if (node_->type != XML_ELEMENT_NODE && node_->type != XML_ATTRIBUTE_NODE) return std::string();
    return node_->ns != nullptr ? ToString(node_->ns->href) : std::string();
  }

  bool AttributeNamespaceUris(std::vector<std::string>& out) override {
    out.clear();
    if (node_->type != XML_ELEMENT_NODE) return false;
    for (Entry& e : Entries()) out.push_back(std::move(e.uri));
    return true;
  }

 private:
  struct Entry {
    std::string name, value, uri;
    bool taken = false;
  };

  // The declarations and attributes in the order the start tag wrote them;
  // what the tag did not write (defaults from a DTD) follows in libxml2's
  // order.
  std::vector<Entry> Entries() {
    std::vector<Entry> all;
    for (xmlNsPtr ns = node_->nsDef; ns != nullptr; ns = ns->next)
      all.push_back({DeclarationName(ns), ToString(ns->href), kXmlnsNamespace});
    for (xmlAttrPtr a = node_->properties; a != nullptr; a = a->next) {
      std::string name = QualifiedName(a->ns, a->name);
      xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
      all.push_back({std::move(name), ToString(value), a->ns ? ToString(a->ns->href) : ""});
      xmlFree(value);
    }
    const std::vector<std::string>* written = record_ != nullptr ? record_->OrderOf(node_) : nullptr;
    if (written == nullptr) return all;
    std::vector<Entry> ordered;
    for (const std::string& name : *written) {
      for (Entry& e : all) {
        if (!e.taken && e.name == name) {
          e.taken = true;
          ordered.push_back(e);
          break;
        }
      }
    }
    for (Entry& e : all)
      if (!e.taken) ordered.push_back(std::move(e));
    return ordered;
  }

  xmlDocPtr doc_;
  xmlNodePtr node_;
  const ParseRecord* record_;
};

class Libxml2NodeList : public XmlNodeList {
 public:
  Libxml2NodeList(xmlDocPtr doc, std::vector<xmlNodePtr> nodes, const ParseRecord* record)
      : doc_(doc), nodes_(std::move(nodes)), record_(record) {}
  long Length() override { return static_cast<long>(nodes_.size()); }
  std::unique_ptr<XmlNode> Item(long index) override {
    if (index < 0 || index >= Length()) return nullptr;
    return std::make_unique<Libxml2Node>(doc_, nodes_[static_cast<size_t>(index)], record_);
  }

 private:
  xmlDocPtr doc_;
  std::vector<xmlNodePtr> nodes_;
  const ParseRecord* record_;
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
    std::string bytes;
    if (!ReadWholeFile(native, bytes)) {
      sink.Set(XML_FROM_IO, XML_IO_LOAD_ERROR,
               "failed to load external entity \"" + native + "\": " + std::strerror(errno), 0);
      return Fail(sink, native, std::string());
    }
    // The parser reads the decoded text, so that its line numbers and the
    // report's source line count every kind of line end, whatever the
    // file's encoding.
    DecodedText decoded = DecodeXmlFile(std::move(bytes));
    if (!decoded.ok) {
      sink.Set(decoded.domain, decoded.code, decoded.reason,
               decoded.code == XML_ERR_UNSUPPORTED_ENCODING ? 1 : LineCount(decoded.text));
      return Fail(sink, native, decoded.text);
    }
    if (decoded.text.size() > static_cast<size_t>(INT_MAX)) {
      sink.Set(XML_FROM_IO, XML_IO_EFBIG, "The document is too large.", 0);
      return Fail(sink, native, std::string());
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr) {
      sink.Set(XML_FROM_MEMORY, XML_ERR_NO_MEMORY, "out of memory", 0);
      return Fail(sink, native, decoded.text);
    }
    ParseObserver observer{ctxt, &record_};
    ctxt->_private = &observer;
    ctxt->sax->startElementNs = ObservingStartElementNs;
    // Only where blank text is dropped: libxml2 tells ignorable white space
    // apart only while the two handlers differ, which they then do anyway.
    if (!preserve_white_space_) ctxt->sax->characters = ObservingCharacters;
    sink.main = ctxt;
    sink.lines = &record_.lines;
    // The text is UTF-8 now, and its declaration says so; entities keep
    // the encodings they declare. A label of five letters ("utf-8") is
    // overwritten for the parse and put back for the report; only another
    // length takes a copy of the text.
    const std::string* parsed = &decoded.text;
    std::string relabelled, label;
    size_t at = 0, length = 0;
    if (FindDeclaredEncoding(decoded.text, at, length) && decoded.text.compare(at, length, "UTF-8") != 0) {
      if (length == 5) {
        label = decoded.text.substr(at, length);
        decoded.text.replace(at, length, "UTF-8");
      } else {
        relabelled = decoded.text;
        relabelled.replace(at, length, "UTF-8");
        parsed = &relabelled;
      }
    }
    // Short text is kept inside its node (fewer allocations); the loaded
    // tree is only read, and blank text nodes dropped, which such nodes
    // allow.
    int options = XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_COMPACT;
    if (resolve_externals_) options |= XML_PARSE_NOENT | XML_PARSE_DTDLOAD;
    // Blank text is not even built where libxml2 can tell it is ignorable;
    // the pass after the parse drops what it keeps.
    if (!preserve_white_space_) options |= XML_PARSE_NOBLANKS;
    xmlSetStructuredErrorFunc(&sink, ErrorSink::Collect);
    doc_ = xmlCtxtReadMemory(ctxt, parsed->data(), static_cast<int>(parsed->size()),
                             native.c_str(), "UTF-8", options);
    if (!label.empty()) decoded.text.replace(at, length, label);
    const bool well_formed = ctxt->wellFormed != 0;
    sink.main = nullptr;
    xmlFreeParserCtxt(ctxt);
    xmlSetStructuredErrorFunc(nullptr, IgnoreStructuredError);

    if (doc_ == nullptr || !well_formed || sink.have) {
      Free();
      if (!sink.have) sink.Set(XML_FROM_PARSER, XML_ERR_DOCUMENT_EMPTY, "The document could not be loaded.", 0);
      return Fail(sink, native, decoded.text);
    }
    xmlNodePtr root = xmlDocGetRootElement(doc_);
    if (!preserve_white_space_ && root != nullptr && observer.blank_text)
      StripBlankText(root, xmlNodeGetSpacePreserve(root));

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
      if (sink.have) return Fail(sink, native, decoded.text);
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

  bool Serialize(std::string& bytes) override {
    if (doc_ == nullptr) return false;
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr) return false;
    // The document carries its own declaration as a processing instruction.
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL);
    bool ok = save != nullptr;
    if (ok) {
      const long written = xmlSaveDoc(save, doc_);
      ok = xmlSaveClose(save) >= 0 && written >= 0;
    }
    if (ok) bytes.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                         static_cast<size_t>(xmlBufferLength(buffer)));
    xmlBufferFree(buffer);
    return ok;
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
      list = std::make_unique<Libxml2NodeList>(doc_, std::move(nodes), &record_);
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(ctx);
    return list;
  }

 private:
  void Free() {
    if (doc_ != nullptr) xmlFreeDoc(doc_);
    doc_ = nullptr;
    record_.clear();
  }

  // The document being built, created on first use.
  xmlDocPtr Built() {
    if (doc_ == nullptr) doc_ = xmlNewDoc(X("1.0"));
    return doc_;
  }

  // Records the failure of a load from the sink's first error (or
  // warning). The source line is taken from `text`, the decoded command
  // file, or from the decoded file that the error names.
  bool Fail(const ErrorSink& sink, const std::string& native, const std::string& text) {
    const ErrorSink::Entry* e = sink.Best();
    if (e == nullptr) return false;
    error_.code = Libxml2ErrorCode(e->domain, e->code);
    error_.reason = e->message;
    error_.line = e->line;
    std::string other;
    if (!e->file.empty() && e->file != native && ReadWholeFile(e->file, other)) {
      error_.src_text = LineOf(DecodeXmlFile(std::move(other)).text, error_.line);
    } else {
      error_.src_text = LineOf(text, error_.line);
    }
    return false;
  }

  XmlPathResolver resolver_;
  std::shared_ptr<Libxml2SchemaCache> schemas_;
  bool validate_ = false;
  bool resolve_externals_ = false;
  bool preserve_white_space_ = false;
  xmlDocPtr doc_ = nullptr;
  ParseRecord record_;  // of doc_
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
