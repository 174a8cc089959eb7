#pragma once
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/xml_dom.h"

namespace kvx {

// One attribute of a node record: its value with references resolved, and
// its name with the prefix.
struct XMLAttrib {
  std::string strAttriValue;
  std::string strAttriName;
};

// One node record, a plain value holding no reference into the DOM.
struct XMLNode {
  std::string strNodeXml;    // the node's markup, its own tags included
  std::string strNodeValue;  // the text of the node and its descendants
  std::string strNodeName;   // element name, "#text", "#comment", ...
  std::vector<XMLAttrib> vecAttribs;  // in the DOM's order
};

using XMLNodeList = std::vector<XMLNode>;

// Runs the XPath 1.0 `query` on `document` and turns the result into node
// records: a selected node that has children is replaced by one record per
// child; a node without children gives one record for itself. Nothing
// matched, or an invalid query, gives an empty list.
XMLNodeList SelectNodes(XmlDocument& document, DebugOutput& debug, const std::string& query);

}  // namespace kvx
