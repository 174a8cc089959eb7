#pragma once
// A flash volume for tests: a temp machine folder whose drive "~" names a
// fixture folder, the real POSIX file system, profile functions and XML
// services over it, and a recorder of the debugger output. The flash root
// is published as "~:", as an open flash cycle leaves it.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <memory>
#include <string>

#include "core/tool_context.h"
#include "platform/libxml2/xml_dom_libxml2.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/path_map.h"
#include "platform/posix/profile_posix.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace kvx::testing {

// Makes every file this process writes stop at `bytes`, as a full volume
// would: a write past it fails (EFBIG) instead of raising SIGXFSZ.
class VolumeFullAt {
 public:
  explicit VolumeFullAt(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~VolumeFullAt() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_;
  void (*old_handler_)(int);
};

class FlashFixture : public ::testing::Test {
 protected:
  FlashFixture();

  // The native path of `relative` on the volume ("QUARLE.000/john").
  std::string Vol(const std::string& relative) const { return volume_ / relative; }
  // Writes a file on the volume, making its folders.
  void Put(const std::string& relative, const std::string& bytes) const;
  std::string Get(const std::string& relative) const { return ReadFile(Vol(relative)); }
  // An account folder with a UTF-8 "kvxaccount.ini" (mark added).
  void PutAccount(const std::string& folder, const std::string& ini_text) const;
  // Sets the last-write time of a file on the volume (seconds since 1970).
  void SetTime(const std::string& relative, long seconds) const;

  TempDir machine_, volume_;
  PathMap paths_;
  PosixFileSystem files_;
  PosixPrivateProfile profile_;
  std::unique_ptr<XmlServices> xml_;
  RecordingDebug debug_;
  ToolState state_;
  RecordingFlash flash_{state_};
  FakeObjects objects_;
  RecordingMessageBox message_box_;
  FakeProcess process_;
  FakeStrings strings_;
  ToolContext ctx_;
};

// UTF-8 text with the mark EF BB BF.
std::string Utf8Marked(const std::string& text);

}  // namespace kvx::testing
