#pragma once
// The XML services over libxml2: DOM, XSD 1.0 validation and XPath 1.0.
// Every version of the document and schema-cache classes is this one
// implementation. External resources are read from local files only.
#include <functional>
#include <memory>
#include <string>

#include "platform/xml_dom.h"

namespace kvx {

// Maps a Windows path to the path libxml2 opens; false when the path names
// no file on this machine.
using XmlPathResolver = std::function<bool(const std::string& windows_path, std::string& native)>;

std::unique_ptr<XmlServices> CreateLibxml2Services(XmlPathResolver resolver);

// The error code reported for a libxml2 error: the top bit set, the error
// domain in bits 16 to 23 and libxml2's own code in the low 16 bits.
int32_t Libxml2ErrorCode(int domain, int code);

}  // namespace kvx
