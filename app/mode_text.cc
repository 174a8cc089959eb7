#include "app/mode_text.h"

#include "xml/xml_loader.h"

namespace kvx {

std::string ModeText(StringResources& strings, int id, std::initializer_list<std::string> values) {
  return FillPlaceholders(strings.Load(id), values);
}

std::string RecordText(const XMLNode& record) {
  std::string text = record.strNodeName;
  for (const XMLAttrib& a : record.vecAttribs) text += " " + a.strAttriName + "=\"" + a.strAttriValue + "\"";
  return text;
}

std::string RecordsText(const XMLNodeList& records) {
  std::string text;
  for (const XMLNode& r : records) text += (text.empty() ? "" : "; ") + RecordText(r);
  return text;
}

}  // namespace kvx
