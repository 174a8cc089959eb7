#pragma once
// The XML services over MSXML through COM: the document and schema-cache
// classes of versions 6.0, 3.0, 4.0 and 2.6 as the system registers them,
// seen through IXMLDOMDocument2 and IXMLDOMSchemaCollection. COM must be
// initialised on the calling thread; every object is used on that thread.
#include "platform/win32/windows_api.h"
#include <msxml2.h>

#include <functional>
#include <memory>

#include "platform/xml_dom.h"

namespace kvx {

// The ids the MSXML classes and interfaces of this layer are reached by.
// mingw-w64 declares neither the 6.0 classes nor the two interface ids in
// its import libraries, so all of them are stated here, once.
const CLSID& MsxmlDocumentClass(XmlClassVersion version);
const CLSID& MsxmlSchemaCacheClass(XmlClassVersion version);
extern const IID kIidXmlDomDocument2;
extern const IID kIidXmlDomSchemaCollection;

// Creates an instance of `clsid` and asks it for `iid`, as CoCreateInstance
// with any server context does; a test puts a fake of the classes here.
using ComFactory = std::function<HRESULT(const CLSID& clsid, const IID& iid, void** out)>;

// Default-constructible: the classes come from CoCreateInstance.
class MsxmlServices : public XmlServices {
 public:
  MsxmlServices();
  explicit MsxmlServices(ComFactory factory) : factory_(std::move(factory)) {}
  std::unique_ptr<XmlDocument> CreateDocument(XmlClassVersion version) override;
  std::shared_ptr<XmlSchemaCache> CreateSchemaCache(XmlClassVersion version) override;

 private:
  ComFactory factory_;
};

}  // namespace kvx
