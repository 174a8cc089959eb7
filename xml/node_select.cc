#include "xml/node_select.h"

#include "core/diag.h"

namespace kvx {

namespace {

XMLNode RecordOf(XmlNode& node) {
  XMLNode record;
  record.strNodeName = node.NodeName();
  record.strNodeValue = node.Text();
  record.strNodeXml = node.Xml();
  return record;
}

}  // namespace

XMLNodeList SelectNodes(XmlDocument& document, DebugOutput& debug, const std::string& query) {
  XMLNodeList result;
  std::unique_ptr<XmlNodeList> list = document.SelectNodes(query);
  debug.Write("Begin selectNodes.");
  Diag(debug, "The pXMLNodeList->length is %ld.", list ? list->Length() : 0L);
  std::vector<std::pair<std::string, std::string>> attributes;
  for (long i = 0; list && i < list->Length(); ++i) {
    std::unique_ptr<XmlNode> node = list->Item(i);
    if (!node) continue;
    if (node->HasChildNodes()) {
      debug.Write("Has hasChildNodes.");
      for (std::unique_ptr<XmlNode> child = node->FirstChild(); child; child = child->NextSibling()) {
        XMLNode record = RecordOf(*child);
        Diag(debug, "node.strNodeName = %s. node.strNodeValue = %s, node.strNodeXml = %s",
             record.strNodeName.c_str(), record.strNodeValue.c_str(), record.strNodeXml.c_str());
        if (child->Attributes(attributes)) {
          for (auto& [name, value] : attributes) {
            Diag(debug, "xmlAttrib.strAttriName = %s. xmlAttrib.strAttriValue = %s", name.c_str(),
                 value.c_str());
            record.vecAttribs.push_back(XMLAttrib{value, name});
          }
        }
        result.push_back(std::move(record));
      }
    } else {
      debug.Write("Not hasChildNodes.");
      XMLNode record = RecordOf(*node);
      if (node->Attributes(attributes))
        for (auto& [name, value] : attributes) record.vecAttribs.push_back(XMLAttrib{value, name});
      result.push_back(std::move(record));
    }
  }
  debug.Write("End selectNodes.");
  return result;
}

}  // namespace kvx
