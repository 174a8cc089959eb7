#include "platform/win32/profile_win32.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
#include "tests/temp_dir.h"
#include "tests/win32_test_support.h"
#include "tests/wine/profile_corpus_runner.h"

namespace kvx {
namespace {

// The differential corpus of the profile functions, run through this
// layer and through the system's functions called directly by the helper
// profile_ops.exe: the files and every read agree byte for byte.
TEST(Win32PrivateProfile, CorpusAgreesWithTheSystemsFunctions) {
  testing::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string corpus_path = BuildPath(KVX_SOURCE_DIR "/tests/wine/profile_corpus.txt");
  const std::string corpus = testing::ReadFile(corpus_path);
  ASSERT_FALSE(corpus.empty()) << corpus_path;
  ASSERT_TRUE(CreateDirectoryW(Wide(dir / "system").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Wide(dir / "ours").c_str(), nullptr));

  const ChildResult helper =
      RunChild(BuildPath(KVX_PROFILE_OPS_EXE), {corpus_path, dir / "system"}, 120000);
  ASSERT_TRUE(helper.started) << KVX_PROFILE_OPS_EXE;
  ASSERT_EQ(helper.exit_code, 0u);

  Win32PrivateProfile profile;
  CorpusFiles files;
  files.path = [&](const std::string& name, const char* ext) {
    return dir / ("ours\\" + name + ext);
  };
  files.write = [](const std::string& path, const std::string& bytes) {
    testing::WriteFile(path, bytes);
  };
  files.remove = [](const std::string& path) { DeleteFileW(Wide(path).c_str()); };
  RunProfileCorpus(corpus, profile, files);

  int cases = 0;
  std::istringstream in(corpus);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("case\t", 0) != 0) continue;
    const std::string name = line.substr(5);
    ++cases;
    for (const char* ext : {".ini", ".txt"}) {
      const std::string theirs = testing::ReadFile(dir / ("system\\" + name + ext));
      const std::string ours = testing::ReadFile(dir / ("ours\\" + name + ext));
      EXPECT_EQ(ours, theirs) << name << ext;
    }
  }
  EXPECT_GE(cases, 10);
}

TEST(Win32PrivateProfile, AFlushOfAWritableFileSucceedsAndKeepsTheWrites) {
  testing::TempDir dir;
  const std::string file = dir / "kvxaccount.ini";
  ASSERT_TRUE(testing::WriteFile(file, std::string("\xFF\xFE[\0S\0]\0\r\0\n\0", 10)));
  Win32PrivateProfile profile;
  ASSERT_TRUE(profile.WriteString("S", "a", "2", file));
  EXPECT_TRUE(profile.Flush(file));  // the system's call itself answers FALSE
  std::u16string value;
  EXPECT_EQ(profile.GetString("S", "a", "", value, 16, file), 1u);
  EXPECT_EQ(value, u"2");
}

TEST(Win32PrivateProfile, ReadOnlyFilesAreNotWritten) {
  testing::TempDir dir;
  const std::string file = dir / "kvxaccount.ini";
  const std::string bytes = std::string(
      "\xFF\xFE[\0S\0]\0\r\0\n\0a\0=\0"
      "1\0\r\0\n\0",
      22);
  ASSERT_TRUE(testing::WriteFile(file, bytes));
  ASSERT_TRUE(SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_READONLY));
  Win32PrivateProfile profile;
  EXPECT_FALSE(profile.WriteString("S", "a", "2", file));
  EXPECT_FALSE(profile.WriteString("T", "b", "3", file));
  EXPECT_FALSE(profile.Flush(file));
  EXPECT_EQ(testing::ReadFile(file), bytes);
  std::u16string value;
  EXPECT_EQ(profile.GetString("S", "a", "", value, 16, file), 1u);
  EXPECT_EQ(value, u"1");
}

}  // namespace
}  // namespace kvx
