#include "app/log_file.h"

#include <gtest/gtest.h>

#include "tests/fakes.h"

namespace kvx {
namespace {

using namespace kvx::testing;

TEST(HistoryLogPath, LiesBesideTheExecutable) {
  EXPECT_EQ(HistoryLogPath("C:\\tools\\QZRRemote.exe"), "C:\\tools\\QZRRemote.log");
  EXPECT_EQ(HistoryLogPath("C:\\tool.exe"), "C:\\QZRRemote.log");
  EXPECT_EQ(HistoryLogPath("C:\\\\tool.exe"), "C:\\QZRRemote.log");  // folder ends in "\"
  EXPECT_EQ(HistoryLogPath("tool.exe"), "\\QZRRemote.log");
  EXPECT_EQ(HistoryLogPath(""), "c:\\QZRRemote.log");
}

class LogFileTest : public ::testing::Test {
 protected:
  LogFile::Deps deps() { return {process, files, console, debug, strings, ansi, clock}; }
  const std::string& log() { return files.files["C:\\tools\\QZRRemote.log"]; }

  FakeProcess process;
  MemoryFiles files;
  RecordingConsole console;
  RecordingDebug debug;
  FakeStrings strings;
  FakeAnsi ansi;
  FakeClock clock;
};

TEST_F(LogFileTest, EveryStartTruncatesTheLog) {
  files.files["C:\\tools\\QZRRemote.log"] = "an old line\n";
  LogFile log_file(deps());
  EXPECT_EQ(log(), "");
  EXPECT_EQ(console.text_, "");
}

TEST_F(LogFileTest, LineHoldsTimeFileAndMessage) {
  LogFile log_file(deps());
  log_file.WriteHistoryLine(1, "");
  const std::string expected = "2010-05-04 13:07, , You must specify the XML file name.\n\n";
  EXPECT_EQ(log(), expected);
  ASSERT_EQ(debug.lines.size(), 1u);
  EXPECT_EQ(debug.lines[0], expected);
}

TEST_F(LogFileTest, CodesWithoutMessageEndTheLineAfterTheComma) {
  LogFile log_file(deps());
  log_file.WriteHistoryLine(10, "c.xml");
  log_file.WriteHistoryLine(-1, "d.xml");
  log_file.WriteHistoryLine(6, "e.xml");
  EXPECT_EQ(log(), "2010-05-04 13:07, c.xml, \n2010-05-04 13:07, d.xml, \n2010-05-04 13:07, e.xml, \n");
}

TEST_F(LogFileTest, PercentSignsAreCopiedLiterally) {
  LogFile log_file(deps());
  log_file.WriteHistoryLine(4, "%s%d%n.xml");
  EXPECT_EQ(log(), "2010-05-04 13:07, %s%d%n.xml, Failed to verify the XML file.\n\n");
}

TEST_F(LogFileTest, LongLinesAreCutTo1022BytesAndALineFeed) {
  LogFile log_file(deps());
  log_file.WriteHistoryLine(1, std::string(5000, 'a'));
  ASSERT_EQ(log().size(), 1023u);
  EXPECT_EQ(log().substr(0, 18), "2010-05-04 13:07, ");
  EXPECT_EQ(log().substr(18, 1004), std::string(1004, 'a'));
  EXPECT_EQ(log().back(), '\n');
}

TEST_F(LogFileTest, AUtf8LineIsCutBetweenCharacters) {
  LogFile log_file(deps());
  // 18 bytes of time and comma, then three-byte characters: 1004 bytes
  // would split the 335th character, so the cut falls before it.
  std::string wide;
  for (int i = 0; i < 400; ++i) wide += "中";
  log_file.WriteHistoryLine(1, wide);
  EXPECT_EQ(log().size(), 18u + 334 * 3 + 1);
  EXPECT_EQ(log().back(), '\n');
}

TEST_F(LogFileTest, NarrowTextReplacesWhatItCannotCarry) {
  ansi.utf8 = false;
  LogFile log_file(deps());
  log_file.WriteHistoryLine(4, "Grüße.xml");
  EXPECT_EQ(log(), "2010-05-04 13:07, Gr??e.xml, Failed to verify the XML file.\n\n");
}

TEST_F(LogFileTest, ATimeThatCannotBeHadLeavesTheFieldEmpty) {
  clock.ok = false;
  LogFile log_file(deps());
  log_file.WriteHistoryLine(0, "a.xml");
  EXPECT_EQ(log(), ", a.xml, The XML file has been parsed successfully.\n\n");
}

TEST_F(LogFileTest, ALogThatCannotBeOpenedIsReportedAndRunsGoOn) {
  files.refused.push_back("C:\\tools\\QZRRemote.log");
  LogFile log_file(deps());
  EXPECT_EQ(console.text_, "The file 'LOGFILE' was not opened\n");
  log_file.WriteHistoryLine(1, "");
  EXPECT_EQ(files.files.count("C:\\tools\\QZRRemote.log"), 0u);
  ASSERT_EQ(debug.lines.size(), 1u);  // the line still reaches the debugger
}

TEST_F(LogFileTest, NoExecutablePathMeansTheDriveRootOfC) {
  process.module = "";
  LogFile log_file(deps());
  EXPECT_EQ(log_file.path(), "c:\\QZRRemote.log");
  log_file.WriteHistoryLine(1, "");
  EXPECT_EQ(files.files.count("c:\\QZRRemote.log"), 1u);
}

}  // namespace
}  // namespace kvx
