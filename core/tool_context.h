#pragma once
// What the tool's logic works with: the platform interfaces it reaches the
// world through, and the state the design makes process-wide, owned by main
// so that every test can build a fresh one.
#include <cstdint>
#include <memory>
#include <string>

#include "core/flash_services.h"
#include "platform/debug_output.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/named_objects.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/string_resources.h"
#include "platform/xml_dom.h"

namespace kvx {

// State that lives for the whole run.
struct ToolState {
  // The top of the flash volume: empty until a flash cycle opens, then
  // "~:" for the rest of the run.
  std::string flash_root;
  // The copy counters: bytes to copy and bytes copied.
  uint64_t copy_total = 0;
  uint64_t copy_done = 0;
  // The progress mapping, open while the persistent data copy copies.
  std::unique_ptr<NamedMapping> progress;
};

struct ToolContext {
  FileSystem& files;
  DebugOutput& debug;
  PrivateProfile& profile;
  XmlServices& xml;
  ToolState& state;
  FlashServices& flash;
  NamedObjects& objects;
  MessageBox& message_box;
  Process& process;
  StringResources& strings;
};

}  // namespace kvx
