#include "core/whole_file.h"

#include <gtest/gtest.h>

#include "tests/fakes.h"

namespace kvx {
namespace {

using namespace kvx::testing;

// Files in memory that log what reaches them, in order.
class LoggingFiles : public MemoryFiles {
 public:
  class LoggedFile : public File {
   public:
    LoggedFile(LoggingFiles& owner, std::string& contents) : owner_(owner), contents_(contents) {}
    bool Write(const void* data, size_t size) override {
      owner_.log.push_back("write");
      contents_.append(static_cast<const char*>(data), size);
      return true;
    }
    bool Flush() override { return true; }
    bool Sync() override {
      owner_.log.push_back("sync");
      return owner_.sync_works;
    }
    size_t Read(void*, size_t) override { return 0; }
    bool Error() override { return false; }
    bool Size(uint64_t& size) override {
      size = contents_.size();
      return true;
    }

   private:
    LoggingFiles& owner_;
    std::string& contents_;
  };
  std::unique_ptr<File> CreateNew(const std::string& path, int*) override {
    log.push_back("create");
    files[path].clear();
    return std::make_unique<LoggedFile>(*this, files[path]);
  }
  bool ReplaceFile(const std::string& from, const std::string& to) override {
    log.push_back("replace");
    return MemoryFiles::ReplaceFile(from, to);
  }
  bool SyncName(const std::string& path) override {
    log.push_back("sync name");
    return MemoryFiles::SyncName(path);
  }
  std::vector<std::string> log;
  bool sync_works = true;
};

TEST(WholeFile, TheContentReachesTheDeviceBeforeTheRename) {
  for (const bool sync_works : {true, false}) {
    LoggingFiles files;
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
  LoggingFiles files;
  ASSERT_TRUE(WriteWholeFile(
      files, "C:\\f", [](File& out) { return out.Write("new", 3); }, nullptr, nullptr,
      Durability::kSystem));
  EXPECT_EQ(files.log, (std::vector<std::string>{"create", "write", "replace"}));
}

}  // namespace
}  // namespace kvx
