#pragma once
// What every fuzz target shares: the failure of a property, an input cut
// into fields, an independent UTF-8 check, and a flash volume on the real
// POSIX platform layer for the targets that drive the tool's logic.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/tool_context.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/path_map.h"
#include "platform/posix/profile_posix.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace kvx::fuzz {

// Ends the run when a property does not hold: the message names the
// property, and abort() makes libFuzzer keep the input and the replay fail.
void Require(bool holds, const char* property);

// Takes fields from the front of an input; once it is used up every field
// is empty, so a short input is still a valid one.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  uint8_t Byte();
  // A field whose length is the next byte.
  std::string Short();
  // A field whose length is the next two bytes, little-endian.
  std::string Long();
  std::string Rest();
  bool empty() const { return rest_.empty(); }

 private:
  std::string Take(size_t n);
  std::string_view rest_;
};

// Whether `text` is well-formed UTF-8: shortest forms only, no surrogates,
// nothing above U+10FFFF. Written apart from the program's converters so
// that it can judge them.
bool IsWellFormedUtf8(std::string_view text);

// Whether `text` holds no unpaired surrogate.
bool IsWellFormedUtf16(std::u16string_view text);

// A machine folder whose drive "~" is an empty volume folder, with the real
// POSIX file system, profile functions and libxml2 services over it, and
// recording fakes for the rest. The flash root is "~:", as an open flash
// cycle leaves it. One per process: the targets empty the volume between
// inputs.
class FuzzVolume {
 public:
  static FuzzVolume& Get();

  // Removes everything on the volume and forgets the state of the last run.
  void Reset();
  // The native path of `relative` on the volume.
  std::string Vol(const std::string& relative) const { return volume_ / relative; }
  // Writes a file on the volume, making its folders.
  void Put(const std::string& relative, const std::string& bytes) const;
  std::string Get(const std::string& relative) const { return testing::ReadFile(Vol(relative)); }
  const std::string& machine_folder() const { return machine_.path(); }

  ToolContext& ctx() { return ctx_; }
  PathMap& paths() { return paths_; }
  testing::RecordingDebug& debug() { return debug_; }

 private:
  FuzzVolume();

  testing::TempDir machine_, volume_;
  PathMap paths_;
  PosixFileSystem files_;
  PosixPrivateProfile profile_;
  std::unique_ptr<XmlServices> xml_;
  testing::RecordingDebug debug_;
  ToolState state_;
  testing::RecordingFlash flash_{state_};
  testing::FakeObjects objects_;
  testing::RecordingMessageBox message_box_;
  testing::FakeProcess process_;
  testing::FakeStrings strings_;
  ToolContext ctx_;
};

}  // namespace kvx::fuzz
