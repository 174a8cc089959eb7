#pragma once
// What the tool's logic works with: the platform interfaces it reaches the
// world through, and the state the design makes process-wide, owned by main
// so that every test can build a fresh one.
#include <string>

#include "platform/debug_output.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/xml_dom.h"

namespace kvx {

// State that lives for the whole run.
struct ToolState {
  // The top of the flash volume: empty until a flash cycle opens, then
  // "~:" for the rest of the run.
  std::string flash_root;
};

struct ToolContext {
  FileSystem& files;
  DebugOutput& debug;
  PrivateProfile& profile;
  XmlServices& xml;
  ToolState& state;
};

}  // namespace kvx
