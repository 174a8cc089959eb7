#pragma once
// Bases for fakes of the COM interfaces the Windows platform layer calls:
// each answers E_NOTIMPL to every method, so a fake overrides only what
// its test reaches, and keeps its own reference count.
#include "platform/win32/windows_api.h"
#include <msxml2.h>
#include <wbemcli.h>

namespace kvx::testing {

// Reference counting for a fake; the fake deletes itself at zero.
#define KVX_FAKE_UNKNOWN                                                   \
 public:                                                                   \
  ULONG WINAPI AddRef() override { return ++refs_; }                       \
  ULONG WINAPI Release() override {                                        \
    const ULONG left = --refs_;                                            \
    if (left == 0) delete this;                                            \
    return left;                                                           \
  }                                                                        \
  HRESULT WINAPI QueryInterface(REFIID, void** out) override {             \
    /* The layer never asks a fake for another of its interfaces. */       \
    *out = nullptr;                                                        \
    return E_NOINTERFACE;                                                  \
  }                                                                        \
                                                                           \
 private:                                                                  \
  ULONG refs_ = 1;                                                         \
                                                                           \
 public:

class StubXMLDOMDocument2 : public IXMLDOMDocument2 {
  KVX_FAKE_UNKNOWN
  virtual ~StubXMLDOMDocument2() = default;
  HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_nodeName(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_nodeValue(VARIANT *) override { return E_NOTIMPL; }
  HRESULT WINAPI put_nodeValue(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI get_nodeType(DOMNodeType *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_parentNode(IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_childNodes(IXMLDOMNodeList **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_firstChild(IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_lastChild(IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_previousSibling(IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_nextSibling(IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_attributes(IXMLDOMNamedNodeMap **) override { return E_NOTIMPL; }
  HRESULT WINAPI insertBefore(IXMLDOMNode *, VARIANT, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI replaceChild(IXMLDOMNode *, IXMLDOMNode *, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI removeChild(IXMLDOMNode *, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI appendChild(IXMLDOMNode *, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI hasChildNodes(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_ownerDocument(IXMLDOMDocument **) override { return E_NOTIMPL; }
  HRESULT WINAPI cloneNode(VARIANT_BOOL, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_nodeTypeString(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_text(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI put_text(BSTR) override { return E_NOTIMPL; }
  HRESULT WINAPI get_specified(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_definition(IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_nodeTypedValue(VARIANT *) override { return E_NOTIMPL; }
  HRESULT WINAPI put_nodeTypedValue(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI get_dataType(VARIANT *) override { return E_NOTIMPL; }
  HRESULT WINAPI put_dataType(BSTR) override { return E_NOTIMPL; }
  HRESULT WINAPI get_xml(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI transformNode(IXMLDOMNode *, BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI selectNodes(BSTR, IXMLDOMNodeList **) override { return E_NOTIMPL; }
  HRESULT WINAPI selectSingleNode(BSTR, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_parsed(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_namespaceURI(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_prefix(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_baseName(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI transformNodeToObject(IXMLDOMNode *, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI get_doctype(IXMLDOMDocumentType **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_implementation(IXMLDOMImplementation **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_documentElement(IXMLDOMElement **) override { return E_NOTIMPL; }
  HRESULT WINAPI putref_documentElement(IXMLDOMElement *) override { return E_NOTIMPL; }
  HRESULT WINAPI createElement(BSTR, IXMLDOMElement **) override { return E_NOTIMPL; }
  HRESULT WINAPI createDocumentFragment(IXMLDOMDocumentFragment **) override { return E_NOTIMPL; }
  HRESULT WINAPI createTextNode(BSTR, IXMLDOMText **) override { return E_NOTIMPL; }
  HRESULT WINAPI createComment(BSTR, IXMLDOMComment **) override { return E_NOTIMPL; }
  HRESULT WINAPI createCDATASection(BSTR, IXMLDOMCDATASection **) override { return E_NOTIMPL; }
  HRESULT WINAPI createProcessingInstruction(BSTR, BSTR, IXMLDOMProcessingInstruction **) override { return E_NOTIMPL; }
  HRESULT WINAPI createAttribute(BSTR, IXMLDOMAttribute **) override { return E_NOTIMPL; }
  HRESULT WINAPI createEntityReference(BSTR, IXMLDOMEntityReference **) override { return E_NOTIMPL; }
  HRESULT WINAPI getElementsByTagName(BSTR, IXMLDOMNodeList **) override { return E_NOTIMPL; }
  HRESULT WINAPI createNode(VARIANT, BSTR, BSTR, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI nodeFromID(BSTR, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI load(VARIANT, VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_readyState(__LONG32 *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_parseError(IXMLDOMParseError **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_url(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_async(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI put_async(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT WINAPI abort() override { return E_NOTIMPL; }
  HRESULT WINAPI loadXML(BSTR, VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI save(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI get_validateOnParse(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI put_validateOnParse(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT WINAPI get_resolveExternals(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI put_resolveExternals(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT WINAPI get_preserveWhiteSpace(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT WINAPI put_preserveWhiteSpace(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT WINAPI put_onreadystatechange(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI put_ondataavailable(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI put_ontransformnode(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI get_namespaces(IXMLDOMSchemaCollection **) override { return E_NOTIMPL; }
  HRESULT WINAPI get_schemas(VARIANT *) override { return E_NOTIMPL; }
  HRESULT WINAPI putref_schemas(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI validate(IXMLDOMParseError **) override { return E_NOTIMPL; }
  HRESULT WINAPI setProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI getProperty(BSTR, VARIANT *) override { return E_NOTIMPL; }
};

class StubXMLDOMParseError : public IXMLDOMParseError {
  KVX_FAKE_UNKNOWN
  virtual ~StubXMLDOMParseError() = default;
  HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_errorCode(__LONG32 *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_url(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_reason(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_srcText(BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_line(__LONG32 *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_linepos(__LONG32 *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_filepos(__LONG32 *) override { return E_NOTIMPL; }
};

class StubXMLDOMSchemaCollection : public IXMLDOMSchemaCollection {
  KVX_FAKE_UNKNOWN
  virtual ~StubXMLDOMSchemaCollection() = default;
  HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI add(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI get(BSTR, IXMLDOMNode **) override { return E_NOTIMPL; }
  HRESULT WINAPI remove(BSTR) override { return E_NOTIMPL; }
  HRESULT WINAPI get_length(__LONG32 *) override { return E_NOTIMPL; }
  HRESULT WINAPI get_namespaceURI(__LONG32, BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI addCollection(IXMLDOMSchemaCollection *) override { return E_NOTIMPL; }
  HRESULT WINAPI get__newEnum(IUnknown **) override { return E_NOTIMPL; }
};

class StubWbemLocator : public IWbemLocator {
  KVX_FAKE_UNKNOWN
  virtual ~StubWbemLocator() = default;
  HRESULT WINAPI ConnectServer(const BSTR, const BSTR, const BSTR, const BSTR, LONG, const BSTR, IWbemContext *, IWbemServices **) override { return E_NOTIMPL; }
};

class StubWbemServices : public IWbemServices {
  KVX_FAKE_UNKNOWN
  virtual ~StubWbemServices() = default;
  HRESULT WINAPI OpenNamespace(const BSTR, LONG, IWbemContext *, IWbemServices **, IWbemCallResult **) override { return E_NOTIMPL; }
  HRESULT WINAPI CancelAsyncCall(IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI QueryObjectSink(LONG, IWbemObjectSink **) override { return E_NOTIMPL; }
  HRESULT WINAPI GetObject(const BSTR, LONG, IWbemContext *, IWbemClassObject **, IWbemCallResult **) override { return E_NOTIMPL; }
  HRESULT WINAPI GetObjectAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI PutClass(IWbemClassObject *, LONG, IWbemContext *, IWbemCallResult **) override { return E_NOTIMPL; }
  HRESULT WINAPI PutClassAsync(IWbemClassObject *, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI DeleteClass(const BSTR, LONG, IWbemContext *, IWbemCallResult **) override { return E_NOTIMPL; }
  HRESULT WINAPI DeleteClassAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI CreateClassEnum(const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI CreateClassEnumAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI PutInstance(IWbemClassObject *, LONG, IWbemContext *, IWbemCallResult **) override { return E_NOTIMPL; }
  HRESULT WINAPI PutInstanceAsync(IWbemClassObject *, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI DeleteInstance(const BSTR, LONG, IWbemContext *, IWbemCallResult **) override { return E_NOTIMPL; }
  HRESULT WINAPI DeleteInstanceAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI CreateInstanceEnum(const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI ExecQuery(const BSTR, const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI ExecMethod(const BSTR, const BSTR, LONG, IWbemContext *, IWbemClassObject *, IWbemClassObject **, IWbemCallResult **) override { return E_NOTIMPL; }
  HRESULT WINAPI ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemClassObject *, IWbemObjectSink *) override { return E_NOTIMPL; }
};

class StubEnumWbemClassObject : public IEnumWbemClassObject {
  KVX_FAKE_UNKNOWN
  virtual ~StubEnumWbemClassObject() = default;
  HRESULT WINAPI Reset() override { return E_NOTIMPL; }
  HRESULT WINAPI Next(LONG, ULONG, IWbemClassObject **, ULONG *) override { return E_NOTIMPL; }
  HRESULT WINAPI NextAsync(ULONG, IWbemObjectSink *) override { return E_NOTIMPL; }
  HRESULT WINAPI Clone(IEnumWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI Skip(LONG, ULONG) override { return E_NOTIMPL; }
};

class StubWbemClassObject : public IWbemClassObject {
  KVX_FAKE_UNKNOWN
  virtual ~StubWbemClassObject() = default;
  HRESULT WINAPI GetQualifierSet(IWbemQualifierSet **) override { return E_NOTIMPL; }
  HRESULT WINAPI Get(LPCWSTR, LONG, VARIANT *, CIMTYPE *, LONG *) override { return E_NOTIMPL; }
  HRESULT WINAPI Put(LPCWSTR, LONG, VARIANT *, CIMTYPE) override { return E_NOTIMPL; }
  HRESULT WINAPI Delete(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WINAPI GetNames(LPCWSTR, LONG, VARIANT *, SAFEARRAY **) override { return E_NOTIMPL; }
  HRESULT WINAPI BeginEnumeration(LONG) override { return E_NOTIMPL; }
  HRESULT WINAPI Next(LONG, BSTR *, VARIANT *, CIMTYPE *, LONG *) override { return E_NOTIMPL; }
  HRESULT WINAPI EndEnumeration() override { return E_NOTIMPL; }
  HRESULT WINAPI GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet **) override { return E_NOTIMPL; }
  HRESULT WINAPI Clone(IWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI GetObjectText(LONG, BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI SpawnDerivedClass(LONG, IWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI SpawnInstance(LONG, IWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI CompareTo(LONG, IWbemClassObject *) override { return E_NOTIMPL; }
  HRESULT WINAPI GetPropertyOrigin(LPCWSTR, BSTR *) override { return E_NOTIMPL; }
  HRESULT WINAPI InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WINAPI GetMethod(LPCWSTR, LONG, IWbemClassObject **, IWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI PutMethod(LPCWSTR, LONG, IWbemClassObject *, IWbemClassObject *) override { return E_NOTIMPL; }
  HRESULT WINAPI DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT WINAPI BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
  HRESULT WINAPI NextMethod(LONG, BSTR *, IWbemClassObject **, IWbemClassObject **) override { return E_NOTIMPL; }
  HRESULT WINAPI EndMethodEnumeration() override { return E_NOTIMPL; }
  HRESULT WINAPI GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet **) override { return E_NOTIMPL; }
  HRESULT WINAPI GetMethodOrigin(LPCWSTR, BSTR *) override { return E_NOTIMPL; }
};

#undef KVX_FAKE_UNKNOWN

}  // namespace kvx::testing
