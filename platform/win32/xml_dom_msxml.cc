#include "platform/win32/xml_dom_msxml.h"

#include <wrl/client.h>

#include "core/utf.h"
#include "platform/win32/com_text.h"

namespace kvx {

using Microsoft::WRL::ComPtr;

namespace {

// The classes in the order of XmlClassVersion: 6.0, 3.0, 4.0, 2.6.
constexpr CLSID kDocumentClasses[] = {
    {0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}},
    {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}},
    {0x88D969C0, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}},
    {0xF5078F1B, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}},
};
constexpr CLSID kSchemaCacheClasses[] = {
    {0x88D96A07, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}},
    {0xF5078F34, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}},
    {0x88D969C2, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}},
    {0xF5078F1D, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}},
};

bool NameStart(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
         (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool NameChar(char32_t c) {
  return NameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// An XML qualified name: a name without colons, or two joined by one.
// Not every MSXML refuses the others when it creates an element, and an
// element of such a name could never be read back.
bool IsQualifiedName(const std::string& name) {
  size_t pos = 0;
  bool part_start = true, colon_seen = false;
  while (pos < name.size()) {
    const char32_t c = DecodeUtf8(name, pos);
    if (c == ':') {
      if (part_start || colon_seen) return false;
      colon_seen = part_start = true;
      continue;
    }
    if (part_start ? !NameStart(c) : !NameChar(c)) return false;
    part_start = false;
  }
  return !part_start;
}

VARIANT_BOOL VariantBool(bool on) { return on ? VARIANT_TRUE : VARIANT_FALSE; }

// A property read that failed reads as empty text.
template <typename Object, typename Getter>
std::string ReadText(Object* object, Getter getter) {
  Bstr text;
  if (FAILED((object->*getter)(text.out()))) return std::string();
  return text.Utf8();
}

class MsxmlNode : public XmlNode {
 public:
  explicit MsxmlNode(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}

  std::string NodeName() override { return ReadText(node_.Get(), &IXMLDOMNode::get_nodeName); }
  std::string Text() override { return ReadText(node_.Get(), &IXMLDOMNode::get_text); }
  std::string Xml() override { return ReadText(node_.Get(), &IXMLDOMNode::get_xml); }

  bool HasChildNodes() override {
    VARIANT_BOOL has = VARIANT_FALSE;
    return SUCCEEDED(node_->hasChildNodes(&has)) && has == VARIANT_TRUE;
  }

  std::unique_ptr<XmlNode> FirstChild() override { return Wrap(node_->get_firstChild(Out())); }
  std::unique_ptr<XmlNode> NextSibling() override { return Wrap(node_->get_nextSibling(Out())); }

  XmlNodeType NodeType() override {
    DOMNodeType type = NODE_INVALID;
    if (FAILED(node_->get_nodeType(&type))) return XmlNodeType::kOther;
    switch (type) {
      case NODE_ELEMENT: return XmlNodeType::kElement;
      case NODE_TEXT: return XmlNodeType::kText;
      case NODE_CDATA_SECTION: return XmlNodeType::kCData;
      case NODE_PROCESSING_INSTRUCTION: return XmlNodeType::kProcessingInstruction;
      case NODE_COMMENT: return XmlNodeType::kComment;
      case NODE_DOCUMENT: return XmlNodeType::kDocument;
      default: return XmlNodeType::kOther;
    }
  }

  std::string NamespaceUri() override {
    const XmlNodeType type = NodeType();
    if (type != XmlNodeType::kElement) return std::string();
    return ReadText(node_.Get(), &IXMLDOMNode::get_namespaceURI);
  }

  bool Attributes(std::vector<std::pair<std::string, std::string>>& out) override {
    out.clear();
    return ForEachAttribute([&](IXMLDOMNode* attribute) {
      out.emplace_back(ReadText(attribute, &IXMLDOMNode::get_nodeName),
                       ReadText(attribute, &IXMLDOMNode::get_text));
    });
  }

  bool AttributeNamespaceUris(std::vector<std::string>& out) override {
    out.clear();
    return ForEachAttribute([&](IXMLDOMNode* attribute) {
      // A declaration is in the xmlns namespace whatever the MSXML version
      // answers for it, so that callers see the same on every platform.
      const std::string name = ReadText(attribute, &IXMLDOMNode::get_nodeName);
      if (name == "xmlns" || name.rfind("xmlns:", 0) == 0)
        out.emplace_back(kXmlnsNamespace);
      else
        out.push_back(ReadText(attribute, &IXMLDOMNode::get_namespaceURI));
    });
  }

 private:
  // Calls `visit` with each attribute of the map in document order; false
  // for node kinds without an attribute map (they answer S_FALSE).
  template <typename Visit>
  bool ForEachAttribute(Visit visit) {
    ComPtr<IXMLDOMNamedNodeMap> map;
    if (node_->get_attributes(&map) != S_OK || !map) return false;
    __LONG32 length = 0;
    if (FAILED(map->get_length(&length))) return false;
    for (__LONG32 i = 0; i < length; ++i) {
      ComPtr<IXMLDOMNode> attribute;
      if (map->get_item(i, &attribute) != S_OK || !attribute) continue;
      visit(attribute.Get());
    }
    return true;
  }

  IXMLDOMNode** Out() {
    next_.Reset();
    return &next_;
  }
  // The node a navigation gave, or null past the end (S_FALSE).
  std::unique_ptr<XmlNode> Wrap(HRESULT hr) {
    if (hr != S_OK || !next_) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(next_));
  }

  ComPtr<IXMLDOMNode> node_;
  ComPtr<IXMLDOMNode> next_;
};

class MsxmlNodeList : public XmlNodeList {
 public:
  explicit MsxmlNodeList(ComPtr<IXMLDOMNodeList> list) : list_(std::move(list)) {}
  long Length() override {
    __LONG32 length = 0;
    return SUCCEEDED(list_->get_length(&length)) ? length : 0;
  }
  std::unique_ptr<XmlNode> Item(long index) override {
    ComPtr<IXMLDOMNode> node;
    if (list_->get_item(index, &node) != S_OK || !node) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(node));
  }

 private:
  ComPtr<IXMLDOMNodeList> list_;
};

class MsxmlElement : public XmlElement {
 public:
  explicit MsxmlElement(ComPtr<IXMLDOMElement> element) : element_(std::move(element)) {}
  bool SetAttribute(const std::string& name, const std::string& value) override {
    Variant text(value);
    return SUCCEEDED(element_->setAttribute(Bstr(name).get(), text.get()));
  }
  bool AppendChild(XmlElement& child) override {
    auto* other = dynamic_cast<MsxmlElement*>(&child);
    ComPtr<IXMLDOMNode> placed;
    return other != nullptr && SUCCEEDED(element_->appendChild(other->element(), &placed));
  }
  IXMLDOMElement* element() const { return element_.Get(); }

 private:
  ComPtr<IXMLDOMElement> element_;
};

class MsxmlSchemaCache : public XmlSchemaCache {
 public:
  explicit MsxmlSchemaCache(ComPtr<IXMLDOMSchemaCollection> cache) : cache_(std::move(cache)) {}
  bool Add(const std::string& name_space, const std::string& location) override {
    Variant where(location);
    return SUCCEEDED(cache_->add(Bstr(name_space).get(), where.get()));
  }
  IXMLDOMSchemaCollection* collection() const { return cache_.Get(); }

 private:
  ComPtr<IXMLDOMSchemaCollection> cache_;
};

class MsxmlDocument : public XmlDocument {
 public:
  explicit MsxmlDocument(ComPtr<IXMLDOMDocument2> doc) : doc_(std::move(doc)) {}

  void SetSchemas(std::shared_ptr<XmlSchemaCache> schemas) override {
    schemas_ = std::move(schemas);
    auto* cache = dynamic_cast<MsxmlSchemaCache*>(schemas_.get());
    if (schemas_ && cache == nullptr) {
      Setup(E_INVALIDARG, "schemas");
      return;
    }
    Variant collection(cache ? static_cast<IDispatch*>(cache->collection()) : nullptr);
    const HRESULT hr = doc_->putref_schemas(collection.get());
    // Only a cache that could not be attached changes what a load means.
    if (cache != nullptr) Setup(hr, "schemas");
  }
  void SetAsync(bool on) override { Setup(doc_->put_async(VariantBool(on)), "async"); }
  void SetValidateOnParse(bool on) override {
    Setup(doc_->put_validateOnParse(VariantBool(on)), "validateOnParse");
  }
  void SetResolveExternals(bool on) override {
    Setup(doc_->put_resolveExternals(VariantBool(on)), "resolveExternals");
  }
  void SetPreserveWhiteSpace(bool on) override {
    Setup(doc_->put_preserveWhiteSpace(VariantBool(on)), "preserveWhiteSpace");
  }

  // A setting the document refused would make the load something else than
  // what was asked (unvalidated, for one), so the load is refused instead.
  bool Load(const std::string& path) override {
    loaded_ = false;
    error_ = XmlParseError();
    if (FAILED(setup_failure_)) {
      error_.code = setup_failure_;
      error_.reason = "The document refused its " + setup_step_ + " setting.";
      return false;
    }
    Variant source(path);
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT hr = doc_->load(source.get(), &ok);
    ComPtr<IXMLDOMParseError> parse_error;
    if (SUCCEEDED(doc_->get_parseError(&parse_error)) && parse_error) Read(*parse_error.Get());
    if (error_.code == 0 && (FAILED(hr) || ok != VARIANT_TRUE)) {
      // A load that failed without saying why is still a failure.
      error_.code = FAILED(hr) ? hr : E_FAIL;
      error_.reason = "The document could not be loaded.";
    }
    loaded_ = error_.code == 0;
    return loaded_;
  }

  XmlParseError ParseError() override { return error_; }

  std::unique_ptr<XmlNodeList> SelectNodes(const std::string& query) override {
    if (!loaded_) return nullptr;
    ComPtr<IXMLDOMNodeList> list;
    if (FAILED(doc_->selectNodes(Bstr(query).get(), &list)) || !list) return nullptr;
    return std::make_unique<MsxmlNodeList>(std::move(list));
  }

  bool AppendProcessingInstruction(const std::string& target, const std::string& data) override {
    ComPtr<IXMLDOMProcessingInstruction> pi;
    ComPtr<IXMLDOMNode> placed;
    return SUCCEEDED(doc_->createProcessingInstruction(Bstr(target).get(), Bstr(data).get(), &pi)) &&
           pi && SUCCEEDED(doc_->appendChild(pi.Get(), &placed));
  }

  std::unique_ptr<XmlElement> CreateElement(const std::string& name) override {
    if (!IsQualifiedName(name)) return nullptr;
    ComPtr<IXMLDOMElement> element;
    if (FAILED(doc_->createElement(Bstr(name).get(), &element)) || !element) return nullptr;
    return std::make_unique<MsxmlElement>(std::move(element));
  }

  bool AppendChild(XmlElement& child) override {
    auto* element = dynamic_cast<MsxmlElement*>(&child);
    ComPtr<IXMLDOMNode> placed;
    return element != nullptr && SUCCEEDED(doc_->appendChild(element->element(), &placed));
  }

  bool Serialize(std::string& bytes) override {
    // Saved into a stream in memory, as it would be saved to a file.
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) return false;
    VARIANT destination;
    VariantInit(&destination);
    destination.vt = VT_UNKNOWN;
    destination.punkVal = stream.Get();
    if (doc_->save(destination) != S_OK) return false;
    ULARGE_INTEGER end;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &end)) || end.QuadPart > (1u << 30)) return false;
    HGLOBAL memory = nullptr;
    if (FAILED(GetHGlobalFromStream(stream.Get(), &memory))) return false;
    const void* data = GlobalLock(memory);
    if (data == nullptr && end.QuadPart != 0) return false;
    bytes.assign(static_cast<const char*>(data), static_cast<size_t>(end.QuadPart));
    GlobalUnlock(memory);
    return true;
  }

 private:
  void Setup(HRESULT hr, const char* step) {
    if (SUCCEEDED(hr) || FAILED(setup_failure_)) return;
    setup_failure_ = hr;
    setup_step_ = step;
  }

  void Read(IXMLDOMParseError& e) {
    __LONG32 code = 0, line = 0;
    if (FAILED(e.get_errorCode(&code))) code = 0;
    if (code == 0) return;
    error_.code = code;
    error_.reason = ReadText(&e, &IXMLDOMParseError::get_reason);
    error_.src_text = ReadText(&e, &IXMLDOMParseError::get_srcText);
    error_.line = SUCCEEDED(e.get_line(&line)) ? line : 0;
  }

  ComPtr<IXMLDOMDocument2> doc_;
  std::shared_ptr<XmlSchemaCache> schemas_;
  HRESULT setup_failure_ = S_OK;
  std::string setup_step_;
  bool loaded_ = false;
  XmlParseError error_;
};

}  // namespace

const IID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomSchemaCollection = {0x373984C8, 0xB845, 0x449B, {0x91, 0xE7, 0x45, 0xAC, 0x83, 0x03, 0x6A, 0xDE}};

const CLSID& MsxmlDocumentClass(XmlClassVersion version) {
  return kDocumentClasses[static_cast<int>(version)];
}
const CLSID& MsxmlSchemaCacheClass(XmlClassVersion version) {
  return kSchemaCacheClasses[static_cast<int>(version)];
}

MsxmlServices::MsxmlServices()
    : factory_([](const CLSID& clsid, const IID& iid, void** out) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, out);
      }) {}

std::unique_ptr<XmlDocument> MsxmlServices::CreateDocument(XmlClassVersion version) {
  ComPtr<IXMLDOMDocument2> doc;
  if (FAILED(factory_(MsxmlDocumentClass(version), kIidXmlDomDocument2,
                      reinterpret_cast<void**>(doc.GetAddressOf()))) ||
      !doc)
    return nullptr;
  return std::make_unique<MsxmlDocument>(std::move(doc));
}

std::shared_ptr<XmlSchemaCache> MsxmlServices::CreateSchemaCache(XmlClassVersion version) {
  ComPtr<IXMLDOMSchemaCollection> cache;
  if (FAILED(factory_(MsxmlSchemaCacheClass(version), kIidXmlDomSchemaCollection,
                      reinterpret_cast<void**>(cache.GetAddressOf()))) ||
      !cache)
    return nullptr;
  return std::make_shared<MsxmlSchemaCache>(std::move(cache));
}

}  // namespace kvx
