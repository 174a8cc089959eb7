#include "platform/win32/file_system_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "app/log_file.h"
#include "tests/fakes.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
#include "tests/temp_dir.h"
#include "tests/win32_test_support.h"

namespace kvx {
namespace {

class Win32FileSystemTest : public ::testing::Test {
 protected:
  Win32FileSystem files;
  testing::TempDir dir;
};

TEST_F(Win32FileSystemTest, EnumeratesEveryEntryOnceDotsFirst) {
  ASSERT_FALSE(dir.path().empty());
  ASSERT_TRUE(testing::WriteFile(dir / "b.txt", "bb"));
  ASSERT_TRUE(testing::WriteFile(dir / "A.ini", "a"));
  ASSERT_TRUE(testing::WriteFile(dir / "c.txt", ""));
  ASSERT_TRUE(files.CreateDirectory(dir / "sub"));

  std::vector<FindEntry> all;
  ASSERT_TRUE(files.FindFiles(dir / "*.*", all));
  ASSERT_EQ(all.size(), 6u);
  // Below a folder the system lists "." and ".." before the names.
  EXPECT_EQ(all[0].name, ".");
  EXPECT_EQ(all[1].name, "..");
  std::set<std::string> names;
  for (const FindEntry& e : all) names.insert(e.name);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "A.ini", "b.txt", "c.txt", "sub"}));
  for (const FindEntry& e : all) {
    if (e.name == "sub") {
      EXPECT_TRUE(e.attributes & kAttrDirectory);
      EXPECT_EQ(e.size, 0u);
    }
    if (e.name == "b.txt") {
      EXPECT_FALSE(e.attributes & kAttrDirectory);
      EXPECT_EQ(e.size, 2u);
      int64_t written = 0;
      ASSERT_TRUE(files.GetLastWriteTime(dir / "b.txt", written));
      EXPECT_EQ(e.last_write, written);
    }
  }

  std::vector<FindEntry> txt;
  ASSERT_TRUE(files.FindFiles(dir / "*.txt", txt));
  EXPECT_EQ(txt.size(), 2u);
  // A folder that is not there, and a mask that matches nothing.
  EXPECT_FALSE(files.FindFiles(dir / "missing\\*.*", all));
  EXPECT_TRUE(all.empty());
  EXPECT_FALSE(files.FindFiles(dir / "*.xyz", all));
}

TEST_F(Win32FileSystemTest, ReadOnlyFilesAreRefusedUntilMadeNormal) {
  const std::string file = dir / "locked.ini";
  ASSERT_TRUE(testing::WriteFile(file, "old"));
  ASSERT_TRUE(files.SetAttributes(file, kAttrReadOnly | kAttrHidden));
  constexpr uint32_t kShown = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory;
  EXPECT_EQ(files.GetAttributes(file) & kShown, kAttrReadOnly | kAttrHidden);
  EXPECT_EQ(files.Access(file, 0), 0);
  EXPECT_NE(files.Access(file, 2), 0);

  int error = 0;
  EXPECT_EQ(files.Open(file, "wb", &error), nullptr);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_EQ(files.Open(file, "ab", &error), nullptr);
  EXPECT_EQ(files.Open(file, "r+b", &error), nullptr);
  EXPECT_NE(files.Open(file, "rb", &error), nullptr);
  EXPECT_FALSE(files.DeleteFile(file));
  const std::string replacement = dir / "new.tmp";
  ASSERT_TRUE(testing::WriteFile(replacement, "new"));
  EXPECT_FALSE(files.ReplaceFile(replacement, file));
  EXPECT_EQ(testing::ReadFile(file), "old");
  EXPECT_EQ(testing::ReadFile(replacement), "new");

  ASSERT_TRUE(files.SetAttributes(file, kAttrNormal));
  EXPECT_EQ(files.GetAttributes(file) & kShown, 0u);
  EXPECT_TRUE(files.DeleteFile(file));
  EXPECT_EQ(files.GetAttributes(file), kInvalidAttributes);
  EXPECT_NE(files.Access(file, 0), 0);
}

TEST_F(Win32FileSystemTest, OneNameIsNeverTwoObjects) {
  ASSERT_TRUE(files.CreateDirectory(dir / "x"));
  EXPECT_FALSE(files.CreateDirectory(dir / "x"));
  int error = 0;
  EXPECT_EQ(files.Open(dir / "x", "wb", &error), nullptr);
  EXPECT_FALSE(files.DeleteFile(dir / "x"));
  const std::string other = dir / "y";
  ASSERT_TRUE(testing::WriteFile(other, "y"));
  EXPECT_FALSE(files.ReplaceFile(other, dir / "x"));
  EXPECT_FALSE(files.CreateDirectory(other));
  EXPECT_EQ(testing::ReadFile(other), "y");
  EXPECT_EQ(files.Open(dir / "none\\file", "wb", &error), nullptr);
  EXPECT_EQ(files.Open(dir / "missing.txt", "rb", &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_TRUE(files.RemoveDirectory(dir / "x"));
}

// The identity of a file or folder, not of its spelling: what the tool
// uses to refuse copying a folder onto itself.
TEST_F(Win32FileSystemTest, SameFileComparesWhatTheNamesReach) {
  ASSERT_TRUE(files.CreateDirectory(dir / "Sub"));
  ASSERT_TRUE(files.CreateDirectory(dir / "Sub\\inner"));
  std::string other_spelling = dir.path() + "/sub/inner/../";
  std::transform(other_spelling.begin(), other_spelling.end(), other_spelling.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  EXPECT_TRUE(files.SameFile(dir / "Sub", other_spelling));
  EXPECT_TRUE(files.SameFile(dir / "Sub", dir / "Sub"));
  EXPECT_FALSE(files.SameFile(dir / "Sub", dir / "Sub\\inner"));

  ASSERT_TRUE(testing::WriteFile(dir / "a.txt", "same bytes"));
  ASSERT_TRUE(testing::WriteFile(dir / "copy.txt", "same bytes"));
  ASSERT_TRUE(files.SetAttributes(dir / "a.txt", kAttrReadOnly));
  EXPECT_TRUE(files.SameFile(dir / "a.txt", dir.path() + "\\.\\A.TXT"));
  EXPECT_FALSE(files.SameFile(dir / "a.txt", dir / "copy.txt"));
  EXPECT_FALSE(files.SameFile(dir / "a.txt", dir / "missing.txt"));
  EXPECT_FALSE(files.SameFile(dir / "missing.txt", dir / "missing.txt"));
  ASSERT_TRUE(files.SetAttributes(dir / "a.txt", kAttrNormal));
}

TEST_F(Win32FileSystemTest, ReplaceTakesTheWholeNewFileAndKeepsTheAttributes) {
  const std::string target = dir / "account.ini";
  const std::string fresh = dir / "account.ini.new";
  ASSERT_TRUE(testing::WriteFile(target, "old content"));
  ASSERT_TRUE(files.SetAttributes(target, kAttrHidden));
  ASSERT_TRUE(testing::WriteFile(fresh, "new"));
  ASSERT_TRUE(files.ReplaceFile(fresh, target));
  EXPECT_EQ(testing::ReadFile(target), "new");
  EXPECT_EQ(files.GetAttributes(fresh), kInvalidAttributes);
  EXPECT_TRUE(files.GetAttributes(target) & kAttrHidden);

  // A target that does not exist yet is created by the rename.
  ASSERT_TRUE(testing::WriteFile(fresh, "first"));
  ASSERT_TRUE(files.ReplaceFile(fresh, dir / "created.ini"));
  EXPECT_EQ(testing::ReadFile(dir / "created.ini"), "first");
  // A source that is not there changes nothing.
  EXPECT_FALSE(files.ReplaceFile(dir / "gone", target));
  EXPECT_EQ(testing::ReadFile(target), "new");
}

TEST_F(Win32FileSystemTest, TempNamesAreNewEmptyFilesOfTheirOwn) {
  const std::string temp = files.TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  std::string a, b;
  ASSERT_TRUE(files.CreateTempFile(dir.path(), "kvxini", a));
  ASSERT_TRUE(files.CreateTempFile(dir.path(), "kvxini", b));
  EXPECT_NE(a, b);
  for (const std::string& p : {a, b}) {
    EXPECT_EQ(p.rfind(dir / "kvx", 0), 0u) << p;  // three letters of the prefix
    EXPECT_EQ(p.substr(p.size() - 4), ".tmp");
    EXPECT_EQ(files.GetAttributes(p) & kAttrDirectory, 0u);
    EXPECT_EQ(testing::ReadFile(p), "");
  }
  std::string none;
  EXPECT_FALSE(files.CreateTempFile(dir / "missing", "kvx", none));
}

TEST_F(Win32FileSystemTest, TextModeWritesLineEndsAsCrLf) {
  // The history log is opened in text mode: its line feeds become CR LF
  // on Windows, while binary streams keep the bytes.
  const std::string log = dir / "QZRRemote.log";
  {
    std::unique_ptr<File> f = files.Open(log, "w+", nullptr);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->Write("a, b, c\n", 8));
    ASSERT_TRUE(f->Flush());
    uint64_t size = 0;
    ASSERT_TRUE(f->Size(size));
    EXPECT_EQ(size, 9u);
  }
  EXPECT_EQ(testing::ReadFile(log), "a, b, c\r\n");
  {
    std::unique_ptr<File> f = files.Open(log, "wb", nullptr);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->Write("x\n", 2));
  }
  EXPECT_EQ(testing::ReadFile(log), "x\n");
  std::unique_ptr<File> f = files.Open(log, "rb", nullptr);
  ASSERT_NE(f, nullptr);
  char buf[8];
  EXPECT_EQ(f->Read(buf, sizeof buf), 2u);
  EXPECT_EQ(f->Read(buf, sizeof buf), 0u);
  EXPECT_FALSE(f->Error());
}

// Two PCs that run the tool from one shared folder: both empty the log at
// their start, then each adds its line in one append; every line is whole.
TEST_F(Win32FileSystemTest, RunsSharingOneHistoryLogNeverTearALine) {
  testing::FakeProcess process;
  process.module = dir / "QZRRemote.exe";
  testing::RecordingConsole console;
  testing::RecordingDebug debug;
  testing::FakeStrings strings;
  testing::FakeAnsi ansi;
  testing::FakeClock clock;
  const LogFile::Deps deps{process, files, console, debug, strings, ansi, clock};
  LogFile first(deps), second(deps);
  first.WriteHistoryLine(0, std::string(200, 'L') + ".xml");
  second.WriteHistoryLine(5, "s.xml");
  EXPECT_EQ(testing::ReadFile(dir / "QZRRemote.log"),
            "2010-05-04 13:07, " + std::string(200, 'L') +
                ".xml, The XML file has been parsed successfully.\r\n\r\n"
                "2010-05-04 13:07, s.xml, Failed to parse the XML file.\r\n\r\n");
  EXPECT_EQ(console.text_, "");
}

TEST_F(Win32FileSystemTest, NamesOutsideAsciiRoundTrip) {
  const std::string name = dir / "J\xC3\xB6rg \xE4\xB8\xAD.ini";
  ASSERT_TRUE(files.CreateDirectory(dir / "d"));
  std::unique_ptr<File> f = files.Open(name, "wb", nullptr);
  ASSERT_NE(f, nullptr);
  f.reset();
  std::vector<FindEntry> found;
  ASSERT_TRUE(files.FindFiles(dir / "J*", found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "J\xC3\xB6rg \xE4\xB8\xAD.ini");
  EXPECT_TRUE(files.DeleteFile(name));
}

TEST_F(Win32FileSystemTest, FilesAreCreatedNewAndOnlyWhereTheyBelong) {
  // A leftover beside a final name gives way to a new file; a read-only
  // file or a folder by that name is refused.
  ASSERT_TRUE(testing::WriteFile(dir / "f.kvxtmp", "an old and longer leftover"));
  int error = 0;
  std::unique_ptr<File> f = files.CreateNew(dir / "f.kvxtmp", &error);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->Write("new", 3));
  ASSERT_TRUE(f->Sync());
  f.reset();
  EXPECT_EQ(testing::ReadFile(dir / "f.kvxtmp"), "new");
  ASSERT_TRUE(testing::WriteFile(dir / "ro.kvxtmp", "keep"));
  ASSERT_TRUE(files.SetAttributes(dir / "ro.kvxtmp", kAttrReadOnly));
  ASSERT_TRUE(files.CreateDirectory(dir / "dir.kvxtmp"));
  for (const char* name : {"ro.kvxtmp", "dir.kvxtmp"}) {
    error = 0;
    EXPECT_EQ(files.CreateNew(dir / name, &error), nullptr) << name;
    EXPECT_EQ(error, kErrorAccessDenied) << name;
  }
  EXPECT_EQ(testing::ReadFile(dir / "ro.kvxtmp"), "keep");

  // A name Windows reads as a device is never listed (made through the
  // path form that bypasses the device names).
  const std::wstring raw = L"\\\\?\\" + Wide(dir / "nul.txt");
  const HANDLE h = CreateFileW(raw.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    std::vector<FindEntry> entries;
    ASSERT_TRUE(files.FindFiles(dir / "*.txt", entries) || entries.empty());
    for (const FindEntry& e : entries) EXPECT_NE(e.name, "nul.txt");
  }

  // A path below a folder is within it; the folder itself and its
  // neighbours are not.
  ASSERT_TRUE(files.CreateDirectory(dir / "acc"));
  EXPECT_TRUE(files.IsWithin(dir / "acc", dir / "acc\\f.kvxtmp"));
  EXPECT_TRUE(files.IsWithin(dir / "acc", dir / "acc\\new-name"));
  EXPECT_FALSE(files.IsWithin(dir / "acc", dir / "acc"));
  EXPECT_FALSE(files.IsWithin(dir / "acc", dir / "f.kvxtmp"));
  EXPECT_FALSE(files.IsWithin(dir / "acc", dir / "acc\\..\\f.kvxtmp"));
}

}  // namespace
}  // namespace kvx
