#include "xml/command_store.h"

#include <functional>

#include "core/diag.h"
#include "core/path_exists.h"
#include "flash/root_path.h"

namespace kvx {

namespace {

constexpr const char* kSchemaInstance = "http://www.w3.org/2001/XMLSchema-instance";

bool CmdsPath(ToolContext& ctx, const char* name, std::string& path) {
  std::string root;
  if (!GetRootPathFromSysPath(ctx, root)) return false;
  path = root;
  if (path.empty() || path.back() != '\\') path += "\\";
  path += std::string("cmds") + "\\" + name;
  return true;
}

// A record element: the record's name and attributes, no content.
std::unique_ptr<XmlElement> RecordElement(XmlDocument& doc, const XMLNode& record) {
  std::unique_ptr<XmlElement> e = doc.CreateElement(record.strNodeName);
  if (!e) return nullptr;
  for (const XMLAttrib& a : record.vecAttribs)
    if (!e->SetAttribute(a.strAttriName, a.strAttriValue)) return nullptr;
  return e;
}

// Which messages the folder step writes.
struct FolderMessages {
  bool password = false;
};

// Builds the common frame, lets `payload` fill the cmd element, makes sure
// the folder exists and saves the document in place of any earlier file.
bool WriteCmdStore(ToolContext& ctx, const std::string& path, FolderMessages messages,
                   const std::function<bool(XmlDocument&, XmlElement&)>& payload) {
  std::unique_ptr<XmlDocument> doc = ctx.xml.CreateDocument(XmlClassVersion::k60);
  if (!doc) return false;
  doc->SetPreserveWhiteSpace(true);
  if (!doc->AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\"")) return false;
  std::unique_ptr<XmlElement> root = doc->CreateElement("cmdstore");
  std::unique_ptr<XmlElement> cmd = doc->CreateElement("cmd");
  if (!root || !cmd || !doc->AppendChild(*root) || !root->SetAttribute("xsi:type", "cmdstoreType") ||
      !root->SetAttribute("xmlns:xsi", kSchemaInstance) || !root->AppendChild(*cmd))
    return false;
  if (!payload(*doc, *cmd)) return false;

  const size_t slash = path.rfind('\\');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
  if (messages.password) Diag(ctx.debug, "The config password's Folder is %s", folder.c_str());
  if (!PathExists(ctx.files, ctx.debug, folder)) {
    if (messages.password) ctx.debug.Write("The config password's Folder does not existed!");
    if (!ctx.files.CreateDirectory(folder)) {
      if (messages.password)
        ctx.debug.Write("The config password's Folder-----CreateDirectory failed!");
      return false;
    }
  }
  const std::string temp = path + ".kvxtmp";
  if (!doc->Save(temp) || !ctx.files.ReplaceFile(temp, path)) {
    ctx.files.DeleteFile(temp);
    return false;
  }
  return true;
}

}  // namespace

bool GetConfigPasswordPath(ToolContext& ctx, std::string& path) {
  return CmdsPath(ctx, "password.xml", path);
}
bool GetConfigPowerPath(ToolContext& ctx, std::string& path) {
  return CmdsPath(ctx, "power.xml", path);
}
bool GetConfigRadioPath(ToolContext& ctx, std::string& path) {
  return CmdsPath(ctx, "radio.xml", path);
}

bool ApplyConfigPassword(ToolContext& ctx, const XMLNodeList& nodes) {
  std::string path;
  GetConfigPasswordPath(ctx, path);
  Diag(ctx.debug, "The ConfigPasswordPath %s!", path.c_str());
  if (nodes.empty()) return false;
  return WritePasswordCmdStore(ctx, path, nodes.front());
}

bool ApplyConfigPower(ToolContext& ctx, const XMLNodeList& nodes) {
  std::string path;
  GetConfigPowerPath(ctx, path);
  Diag(ctx.debug, "The ConfigPowerPath %s!", path.c_str());
  if (nodes.empty()) return false;
  return WritePowerCmdStore(ctx, nodes, path);
}

bool ApplyConfigRadio(ToolContext& ctx, const XMLNodeList& nodes) {
  std::string path;
  GetConfigRadioPath(ctx, path);
  Diag(ctx.debug, "GetConfigRadioPath %s!", path.c_str());
  if (nodes.empty()) return false;
  return WriteRadioCmdStore(ctx, nodes, path);
}

bool WritePasswordCmdStore(ToolContext& ctx, const std::string& path, XMLNode record) {
  return WriteCmdStore(ctx, path, {true}, [&](XmlDocument& doc, XmlElement& cmd) {
    std::unique_ptr<XmlElement> e = RecordElement(doc, record);
    return e && cmd.AppendChild(*e);
  });
}

bool WritePowerCmdStore(ToolContext& ctx, const XMLNodeList& nodes, const std::string& path) {
  return WriteCmdStore(ctx, path, {}, [&](XmlDocument& doc, XmlElement& cmd) {
    std::unique_ptr<XmlElement> power = doc.CreateElement("configPower");
    if (!power || !cmd.AppendChild(*power)) return false;
    for (const XMLNode& record : nodes) {
      std::unique_ptr<XmlElement> e = RecordElement(doc, record);
      if (!e || !power->AppendChild(*e)) return false;
    }
    return true;
  });
}

bool WriteRadioCmdStore(ToolContext& ctx, const XMLNodeList& nodes, const std::string& path) {
  if (nodes.empty()) return false;
  return WriteCmdStore(ctx, path, {}, [&](XmlDocument& doc, XmlElement& cmd) {
    std::unique_ptr<XmlElement> e = RecordElement(doc, nodes.front());
    return e && cmd.AppendChild(*e);
  });
}

bool WriteChangePasswordCmdStore(ToolContext& ctx, const std::string& path,
                                 const std::string& user) {
  return WriteCmdStore(ctx, path, {}, [&](XmlDocument& doc, XmlElement& cmd) {
    std::unique_ptr<XmlElement> e = doc.CreateElement("singleUser");
    return e && e->SetAttribute("action", "changePassword") && e->SetAttribute("user", user) &&
           cmd.AppendChild(*e);
  });
}

}  // namespace kvx
