#pragma once
#include <memory>
#include <string>

#include "platform/debug_output.h"
#include "platform/file_system.h"
#include "platform/string_resources.h"
#include "platform/xml_dom.h"

namespace kvx {

// What loading a command file needs of the platform.
struct XmlLoadContext {
  XmlServices& xml;
  FileSystem& files;
  DebugOutput& debug;
  StringResources& strings;
};

// Loads the command file at `path` into a new document in `document`,
// validating it against the no-namespace schema at `schema_path`. True
// when the document is loaded and valid. On a failed load or validation
// `validation_text` receives message 110 filled with the path, the
// reason, the source line and the line number. A document created before
// a failure stays in `document`, for the caller to release.
bool LoadAndValidateXml(XmlLoadContext& ctx, std::unique_ptr<XmlDocument>& document,
                        const std::string& path, const std::string& schema_path,
                        std::string& validation_text);

// `layout` with its "%s" placeholders replaced, in order, by `values`;
// placeholders beyond the values are left empty, other text stays as is.
std::string FillPlaceholders(const std::string& layout, std::initializer_list<std::string> values);

}  // namespace kvx
