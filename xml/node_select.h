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
  // The namespace the name's prefix stands for where the attribute is
  // written: "" without a prefix, "http://www.w3.org/2000/xmlns/" for a
  // namespace declaration.
  std::string strAttriNamespaceUri;
};

// One node record, a plain value holding no reference into the DOM.
struct XMLNode {
  std::string strNodeXml;    // the node's markup, its own tags included
  std::string strNodeValue;  // the text of the node and its descendants
  std::string strNodeName;   // element name, "#text", "#comment", ...
  std::vector<XMLAttrib> vecAttribs;  // in document order, declarations where they stand
  // The namespace of the element's name where it is written, so that a copy
  // of the record can declare a prefix that an ancestor declared.
  std::string strNamespaceUri;
};

using XMLNodeList = std::vector<XMLNode>;

// Runs the XPath 1.0 `query` on `document` and turns the result into node
// records: a selected node that has children is replaced by one record per
// child; a node without children gives one record for itself. Comments,
// processing instructions and white-space-only text are no part of a
// command: they give no record, and a node whose only children they are
// counts as having none. Nothing
// matched, or an invalid query, gives an empty list.
XMLNodeList SelectNodes(XmlDocument& document, DebugOutput& debug, const std::string& query);

}  // namespace kvx
