#pragma once
// The interpreter of the differential profile corpus over the platform's
// profile interface: the same operations and the same records as the
// Windows helper tests/wine/profile_ops.cc, so that the results of any
// implementation compare byte for byte with those of the system's own
// functions.
#include <functional>
#include <string>

#include "platform/profile.h"

namespace kvx {

struct CorpusFiles {
  // The path of the case file NAME + extension (".ini", ".txt").
  std::function<std::string(const std::string& name, const char* extension)> path;
  // Replaces the file's bytes; removes it.
  std::function<void(const std::string& path, const std::string& bytes)> write;
  std::function<void(const std::string& path)> remove;
};

// Runs the corpus `text` through `profile`: each case's INI file is left
// at path(NAME, ".ini") and its records at path(NAME, ".txt").
void RunProfileCorpus(const std::string& text, PrivateProfile& profile, const CorpusFiles& files);

}  // namespace kvx
