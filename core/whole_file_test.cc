#include "core/whole_file.h"

#include <gtest/gtest.h>

#include "tests/fakes.h"

namespace kvx {
namespace {

using namespace kvx::testing;

TEST(WholeFile, TheContentReachesTheDeviceBeforeTheRename) {
  for (const bool sync_works : {true, false}) {
    MemoryFiles files;
    files.sync_works = sync_works;
    files.files["C:\\f"] = "old";
    int error = 0;
    const bool written = WriteWholeFile(
        files, "C:\\f", [](File& out) { return out.Write("new", 3); }, &error);
    EXPECT_EQ(written, sync_works);
    if (sync_works) {
      EXPECT_EQ(files.log,
                (std::vector<std::string>{"create", "write", "sync", "replace", "sync name"}));
      EXPECT_EQ(files.files["C:\\f"], "new");
    } else {
      // Content that may not have reached the device never replaces the old.
      EXPECT_EQ(files.log, (std::vector<std::string>{"create", "write", "sync"}));
      EXPECT_EQ(files.files["C:\\f"], "old");
      EXPECT_EQ(error, kErrorDiskFull);
      EXPECT_EQ(files.files.count("C:\\f.kvxtmp"), 0u);
    }
  }
  // A working copy or a copy into a PC folder is left to the system.
  MemoryFiles files;
  ASSERT_TRUE(WriteWholeFile(
      files, "C:\\f", [](File& out) { return out.Write("new", 3); }, nullptr, nullptr,
      Durability::kSystem));
  EXPECT_EQ(files.log, (std::vector<std::string>{"create", "write", "replace"}));
}

}  // namespace
}  // namespace kvx
