#include "xml/node_select.h"

#include "core/diag.h"

namespace kvx {

namespace {

// What a command is made of: not comments, not processing instructions,
// not the white space that indents elements (kept where xml:space asks),
// which an administrator may put anywhere without changing what runs.
bool IsContent(XmlNode& node) {
  const XmlNodeType type = node.NodeType();
  if (type == XmlNodeType::kComment || type == XmlNodeType::kProcessingInstruction) return false;
  if (type != XmlNodeType::kText) return true;
  return node.Text().find_first_not_of(" \t\r\n") != std::string::npos;
}

// `node` or the first sibling after it that is content; null when none is.
std::unique_ptr<XmlNode> FirstContent(std::unique_ptr<XmlNode> node) {
  while (node && !IsContent(*node)) node = node->NextSibling();
  return node;
}

// The record of `node`; with `log`, each attribute is written to the
// debugger output as it is taken.
XMLNode RecordOf(XmlNode& node, DebugOutput& debug, bool log) {
  XMLNode record;
  record.strNodeName = node.NodeName();
  record.strNodeValue = node.Text();
  record.strNodeXml = node.Xml();
  record.strNamespaceUri = node.NamespaceUri();
  if (log)
    Diag(debug, "node.strNodeName = %s. node.strNodeValue = %s, node.strNodeXml = %s",
         record.strNodeName.c_str(), record.strNodeValue.c_str(), record.strNodeXml.c_str());
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<std::string> uris;
  if (!node.Attributes(attributes)) return record;
  node.AttributeNamespaceUris(uris);
  for (size_t i = 0; i < attributes.size(); ++i) {
    auto& [name, value] = attributes[i];
    if (log)
      Diag(debug, "xmlAttrib.strAttriName = %s. xmlAttrib.strAttriValue = %s", name.c_str(),
           value.c_str());
    record.vecAttribs.push_back(XMLAttrib{value, name, i < uris.size() ? uris[i] : std::string()});
  }
  return record;
}

}  // namespace

XMLNodeList SelectNodes(XmlDocument& document, DebugOutput& debug, const std::string& query) {
  XMLNodeList result;
  std::unique_ptr<XmlNodeList> list = document.SelectNodes(query);
  debug.Write("Begin selectNodes.");
  Diag(debug, "The pXMLNodeList->length is %ld.", list ? list->Length() : 0L);
  for (long i = 0; list && i < list->Length(); ++i) {
    std::unique_ptr<XmlNode> node = list->Item(i);
    if (!node) continue;
    std::unique_ptr<XmlNode> child = FirstContent(node->FirstChild());
    if (child) {
      debug.Write("Has hasChildNodes.");
      for (; child; child = FirstContent(child->NextSibling()))
        result.push_back(RecordOf(*child, debug, true));
    } else {
      debug.Write("Not hasChildNodes.");
      result.push_back(RecordOf(*node, debug, false));
    }
  }
  debug.Write("End selectNodes.");
  return result;
}

}  // namespace kvx
