#include "xml/xml_loader.h"

#include "core/diag.h"
#include "core/path_exists.h"

namespace kvx {

namespace {

struct ClassTry {
  XmlClassVersion version;
  const char* failure_message;
};

// The order is 6.0, 3.0, 4.0, 2.6: version 3.0 is tried before 4.0.
const ClassTry kDocumentClasses[] = {
    {XmlClassVersion::k60, "pXD.CreateInstance MSXML2::DOMDocument60 Failed"},
    {XmlClassVersion::k30, "pXD.CreateInstance MSXML2::DOMDocument30 Failed"},
    {XmlClassVersion::k40, "pXD.CreateInstance MSXML2::DOMDocument40 Failed"},
    {XmlClassVersion::k26, "pXD.CreateInstance failed"},
};

const ClassTry kSchemaCacheClasses[] = {
    {XmlClassVersion::k60, "pXS.CreateInstance MSXML2::XMLSchemaCache60 Failed"},
    {XmlClassVersion::k30, "pXS.CreateInstance MSXML2::XMLSchemaCache30 Failed"},
    {XmlClassVersion::k40, "pXS.CreateInstance MSXML2::XMLSchemaCache40 Failed"},
    {XmlClassVersion::k26, "pXS.CreateInstance MSXML2::XMLSchemaCache26 Failed"},
};

}  // namespace

std::string FillPlaceholders(const std::string& layout, std::initializer_list<std::string> values) {
  std::string out;
  auto value = values.begin();
  for (size_t i = 0; i < layout.size(); ++i) {
    if (layout[i] == '%' && i + 1 < layout.size() && layout[i + 1] == 's') {
      if (value != values.end()) out += *value++;
      ++i;
    } else {
      out += layout[i];
    }
  }
  return out;
}

bool LoadAndValidateXml(XmlLoadContext& ctx, std::unique_ptr<XmlDocument>& document,
                        const std::string& path, const std::string& schema_path,
                        std::string& validation_text) {
  if (!PathExists(ctx.files, ctx.debug, schema_path)) {
    Diag(ctx.debug, "The file %s is not existed", schema_path.c_str());
    return false;
  }

  std::unique_ptr<XmlDocument> created;
  for (const ClassTry& t : kDocumentClasses) {
    created = ctx.xml.CreateDocument(t.version);
    if (created) break;
    ctx.debug.Write(t.failure_message);
  }
  if (!created) return false;
  document = std::move(created);  // an earlier document is released here

  std::shared_ptr<XmlSchemaCache> schemas;
  for (const ClassTry& t : kSchemaCacheClasses) {
    schemas = ctx.xml.CreateSchemaCache(t.version);
    if (schemas) break;
    ctx.debug.Write(t.failure_message);
  }
  if (!schemas) return false;
  ctx.debug.Write("pXS.CreateInstance MSXML2::XMLSchemaCache successful.");

  if (!schemas->Add("", schema_path)) {
    ctx.debug.Write("pXS->add failed");
    return false;
  }

  document->SetSchemas(schemas);
  document->SetAsync(false);
  document->SetValidateOnParse(true);
  document->SetResolveExternals(true);

  document->Load(path);
  const XmlParseError error = document->ParseError();
  if (error.code != 0) {
    validation_text = FillPlaceholders(ctx.strings.Load(110),
                                       {path, error.reason, error.src_text, std::to_string(error.line)});
    Diag(ctx.debug, "The Error Code is %x, and the error String is %s",
         static_cast<unsigned>(error.code), validation_text.c_str());
    return false;
  }
  Diag(ctx.debug, "pXD->load(%s) successful.", path.c_str());
  return true;
}

}  // namespace kvx
