// The command file: loaded and validated against the schema, and when
// valid, applied by the remote command driver to a copy of the example
// volume. Properties: a file that fails gets a message saying why; a valid
// file's commands run to the end of the cycle; every command-store file
// they leave is the exact frame of the XML library's save and loads again
// in a namespace-aware parser; every account file keeps its UTF-8 mark; no
// working copy is left in the temp folder.
#include <libxml/parser.h>

#include <filesystem>
#include <string>

#include "commands/remote_cmd_driver.h"
#include "fuzz/fuzz_support.h"
#include "platform/posix/path_map.h"
#include "xml/xml_loader.h"

namespace kvx::fuzz {
namespace {

namespace fs = std::filesystem;

// Whether `bytes` is a well-formed, namespace-well-formed XML document,
// read without a network, entities or a DTD of its own.
bool LoadsWithNamespaces(const std::string& bytes) {
  xmlParserCtxtPtr parser = xmlNewParserCtxt();
  if (parser == nullptr) return false;
  xmlDocPtr doc = xmlCtxtReadMemory(parser, bytes.data(), static_cast<int>(bytes.size()), "store.xml",
                                    nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  const bool ok = doc != nullptr && parser->wellFormed && parser->nsWellFormed;
  xmlFreeDoc(doc);
  xmlFreeParserCtxt(parser);
  return ok;
}

void CheckCommandStore(const std::string& bytes) {
  static const std::string declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  static const std::string head = declaration + "<cmdstore ";
  static const std::string tail = "</cmdstore>\n";
  Require(bytes.compare(0, head.size(), head) == 0 && bytes.size() > head.size() + tail.size() &&
              bytes.compare(bytes.size() - tail.size(), tail.size(), tail) == 0,
          "a command-store file is the declaration, a line feed and one cmdstore line");
  Require(bytes.find('\n', declaration.size()) == bytes.size() - 1,
          "a command-store element is on one line");
  Require(LoadsWithNamespaces(bytes), "a command-store file loads again with namespaces");
}

}  // namespace

void CheckInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  FuzzVolume& volume = FuzzVolume::Shared();
  const std::string command_file = volume.machine_folder() + "/commands.xml";
  testing::WriteFile(command_file, bytes);

  ToolContext& ctx = volume.ctx();
  XmlLoadContext load{ctx.xml, ctx.files, ctx.debug, ctx.strings};
  std::unique_ptr<XmlDocument> document;
  std::string why;
  const bool valid = LoadAndValidateXml(load, document, PathMap::ToWindows(command_file),
                                        PathMap::ToWindows(KVX_SCHEMA_SOURCE), why);
  if (!valid) {
    Require(!why.empty(), "a command file that fails gets a message saying why");
    return;
  }
  Require(document != nullptr, "a valid command file gives a document");

  // Only a valid file reaches the volume, a fresh copy of the example one:
  // most inputs never get that far, and copying it costs more than they do.
  volume.Reset();
  std::error_code ec;
  fs::copy(KVX_EXAMPLE_VOLUME, volume.Vol(""), fs::copy_options::recursive, ec);
  Require(!ec, "the example volume can be copied");
  Require(DoRemoteCmdFile(ctx, *document), "a valid command file runs to the end of the cycle");

  for (auto it = fs::recursive_directory_iterator(volume.Vol(""), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string name = it->path().filename().string();
    const std::string parent = it->path().parent_path().filename().string();
    const std::string content = testing::ReadFile(it->path().string());
    if (parent == "cmds" && name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0)
      CheckCommandStore(content);
    if (name == "kvxaccount.ini" || name == "kvxaccounts.ini")
      Require(content.compare(0, 3, "\xEF\xBB\xBF") == 0, "an account file keeps its UTF-8 mark");
  }
  for (const auto& entry : fs::directory_iterator(volume.machine_folder() + "/temp", ec))
    Require(entry.path().filename().string().rfind("QZR", 0) != 0,
            "no working copy is left in the temp folder");
}

}  // namespace kvx::fuzz
