#pragma once
#include <string>

#include "platform/xml_dom.h"

namespace kvx {

// What the entry point hands on once it has decided the mode of the run:
// the remote command processing of a validated command document, and the
// copy of the flash system's user folder to the PC.
class CommandProcessor {
 public:
  virtual ~CommandProcessor() = default;
  // Applies the command document to the flash module. False when the
  // flash cycle could not be opened, the user folder was not found, or a
  // change the document asked for could not be made.
  virtual bool DoRemoteCmdFile(XmlDocument& document) = 0;
  // Copies every file of the user folder into `folder`. False unless every
  // file was copied whole.
  virtual bool CopyPersistentData(const std::string& folder) = 0;
  // Lists what the flash module holds into `listing`, as JSON or as prose.
  // False when the flash cycle could not be opened.
  virtual bool ListFlashModule(bool json, std::string& listing) = 0;
};

}  // namespace kvx
