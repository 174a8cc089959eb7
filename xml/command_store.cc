#include "xml/command_store.h"

#include <functional>
#include <map>

#include "core/diag.h"
#include "core/path_exists.h"
#include "core/whole_file.h"
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

// The namespace a prefix ("" for the default) stands for at a record
// element in a command-store file: only the frame's xsi is declared there.
std::string FrameNamespace(const std::string& prefix) {
  return prefix == "xsi" ? kSchemaInstance : "";
}

// The prefix of a qualified name, "" when it has none.
std::string PrefixOf(const std::string& name) {
  const size_t colon = name.find(':');
  return colon == std::string::npos ? std::string() : name.substr(0, colon);
}

bool IsDeclaration(const std::string& name) {
  return name == "xmlns" || PrefixOf(name) == "xmlns";
}

// A record element: the record's name and attributes, in the record's
// order, no content. A prefix that the record uses without declaring it
// itself (the command file declared it on an ancestor) is declared after
// the record's own attributes, with the namespace it stood for, so that
// the file reads again with the same names. Null when that namespace is
// not known.
std::unique_ptr<XmlElement> RecordElement(XmlDocument& doc, const XMLNode& record) {
  std::unique_ptr<XmlElement> e = doc.CreateElement(record.strNodeName);
  if (!e) return nullptr;
  std::map<std::string, std::string> declared;  // by the record itself
  for (const XMLAttrib& a : record.vecAttribs) {
    if (!e->SetAttribute(a.strAttriName, a.strAttriValue)) return nullptr;
    if (IsDeclaration(a.strAttriName))
      declared[a.strAttriName == "xmlns" ? "" : a.strAttriName.substr(6)] = a.strAttriValue;
  }
  std::map<std::string, std::string> added;
  auto needs = [&](const std::string& prefix, const std::string& uri) {
    if (prefix == "xml" || declared.count(prefix) != 0) return true;
    if (auto it = added.find(prefix); it != added.end()) return it->second == uri;
    if (FrameNamespace(prefix) == uri) return true;
    if (!prefix.empty() && uri.empty()) return false;  // a prefix of unknown meaning
    added[prefix] = uri;
    return e->SetAttribute(prefix.empty() ? "xmlns" : "xmlns:" + prefix, uri);
  };
  if (!needs(PrefixOf(record.strNodeName), record.strNamespaceUri)) return nullptr;
  for (const XMLAttrib& a : record.vecAttribs) {
    const std::string prefix = PrefixOf(a.strAttriName);
    if (!prefix.empty() && !IsDeclaration(a.strAttriName) && !needs(prefix, a.strAttriNamespaceUri))
      return nullptr;
  }
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
  // What is written lands in the folder's own place, never through a link
  // that leads out of the folder that holds it.
  if (!StaysInItsFolder(ctx.files, ctx.debug, folder)) return false;
  RemovePartialFilesBeside(ctx.files, path);
  // The flash system must be able to read what is left for it: the file
  // replaces the old one only after it has loaded again.
  std::string bytes;
  std::unique_ptr<XmlDocument> check = ctx.xml.CreateDocument(XmlClassVersion::k60);
  if (!check || !doc->Serialize(bytes)) return false;
  const bool written = WriteWholeFile(
      ctx.files, path, [&](File& out) { return out.Write(bytes.data(), bytes.size()); }, nullptr,
      [&](const std::string& beside) { return check->Load(beside); });
  if (!written && check->ParseError().code != 0)
    Diag(ctx.debug, "The command-store file %s does not load again: %s", path.c_str(),
         check->ParseError().reason.c_str());
  return written;
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
