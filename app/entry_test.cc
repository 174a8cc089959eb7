#include "app/entry.h"

#include <gtest/gtest.h>

#include "tests/fakes.h"

namespace kvx {
namespace {

using namespace kvx::testing;

class EntryTest : public ::testing::Test {
 protected:
  EntryTest() { files.files["C:\\tools\\KVXRemoteCmd.xsd"] = "<xs:schema/>"; }

  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "QZRRemote");
    LogFile log({process, files, console, debug, strings, ansi, clock});
    RunContext ctx{debug, console, objects, process, security, strings,
                   XmlLoadContext{xml, files, debug, strings}, log, commands};
    return EntryPoint(ctx, args);
  }
  const std::string& history() { return files.files["C:\\tools\\QZRRemote.log"]; }

  FakeProcess process;
  MemoryFiles files;
  RecordingConsole console;
  RecordingDebug debug;
  FakeStrings strings;
  FakeAnsi ansi;
  FakeClock clock;
  FakeObjects objects;
  FakeSecurity security;
  FakeXml xml;
  RecordingCommands commands;
};

TEST_F(EntryTest, NoArgumentAsksForTheFile) {
  EXPECT_EQ(Run({}), 1);
  EXPECT_EQ(console.text_, "You must specify the XML file name.\n");
  EXPECT_EQ(history(), "2010-05-04 13:07, , You must specify the XML file name.\n\n");
  EXPECT_TRUE(debug.Has("Before create VeskQZRGlobalMutex."));
  EXPECT_TRUE(debug.Has("The VeskQZRGlobalMutex create successfully."));
  EXPECT_EQ(debug.lines.back(), "The Error Message return is You must specify the XML file name.\n");
  EXPECT_EQ(process.com_init, 1);
  EXPECT_EQ(process.com_uninit, 1);
  EXPECT_EQ(objects.open[kInstanceMutexName], 0);  // released at the end
}

TEST_F(EntryTest, AValidFileGoesToTheDriver) {
  EXPECT_EQ(Run({"a.xml"}), 0);
  EXPECT_EQ(commands.documents, 1);
  EXPECT_EQ(console.text_, "The XML file has been parsed successfully.\n");
  EXPECT_EQ(history(), "2010-05-04 13:07, a.xml, The XML file has been parsed successfully.\n\n");
  EXPECT_TRUE(debug.Has("The Second CMD Line is a.xml"));
  // The schema beside the executable is the one registered.
  EXPECT_NE(std::find(xml.calls.begin(), xml.calls.end(), "add  C:\\tools\\KVXRemoteCmd.xsd"),
            xml.calls.end());
}

TEST_F(EntryTest, DriverFailureIsResultFive) {
  commands.driver_result = false;
  EXPECT_EQ(Run({"a.xml"}), 5);
  EXPECT_EQ(console.text_, "Failed to parse the XML file.\n");
}

TEST_F(EntryTest, AFileThatFailsToLoadIsResultFourAndReachesNoDriver) {
  xml.load_error = {static_cast<int32_t>(0x80010004), "Document is empty", "", 1};
  EXPECT_EQ(Run({"bad.xml"}), 4);
  EXPECT_EQ(commands.documents, 0);
  EXPECT_EQ(console.text_, "Failed to verify the XML file.\n");  // the report is not shown
}

TEST_F(EntryTest, TheXmlTestIsACaseSensitiveSubstring) {
  EXPECT_EQ(Run({"a.xml.bak"}), 0);
  EXPECT_EQ(commands.documents, 1);
  console.text_.clear();
  // Not a command file, and not the copy: nothing runs, which is no success.
  EXPECT_EQ(Run({"commands.XML"}), 1);
  EXPECT_EQ(commands.documents, 1);
  EXPECT_EQ(console.text_, "You must specify the XML file name.\n");
  EXPECT_EQ(history(), "2010-05-04 13:07, commands.XML, You must specify the XML file name.\n\n");
}

TEST_F(EntryTest, CopyModeInAnyCase) {
  EXPECT_EQ(Run({"COPYpersistentDATA"}), 1);
  EXPECT_TRUE(commands.copies.empty());
  EXPECT_EQ(Run({"copypersistentdata", "D:\\backup", "ignored"}), 0);
  ASSERT_EQ(commands.copies.size(), 1u);
  EXPECT_EQ(commands.copies[0], "D:\\backup");
  EXPECT_TRUE(debug.Has("The Third CMD Line is D:\\backup"));
  commands.copy_result = false;
  EXPECT_EQ(Run({"copyPersistentData", "D:\\backup"}), 5);
}

TEST_F(EntryTest, ASecondInstanceIsTurnedAwayWithoutAHistoryLine) {
  bool existed;
  auto held = objects.CreateMutex(kInstanceMutexName, &existed);
  EXPECT_EQ(Run({"a.xml"}), 0);
  EXPECT_EQ(console.text_,
            "Cannot process the request. Another utility or application is currently running.\n");
  EXPECT_EQ(history(), "");  // truncated by the start, and nothing written
  EXPECT_EQ(commands.documents, 0);
  EXPECT_TRUE(debug.Has("The VeskQZRGlobalMutex is already existed."));
  EXPECT_EQ(objects.open[kInstanceMutexName], 1);  // only the other holder is left
}

TEST_F(EntryTest, AMutexThatCannotBeCreatedCountsAsAnotherInstance) {
  objects.fail = true;
  EXPECT_EQ(Run({"a.xml"}), 0);
  EXPECT_EQ(commands.documents, 0);
  EXPECT_EQ(console.text_,
            "Cannot process the request. Another utility or application is currently running.\n");
}

TEST_F(EntryTest, NonMembersAndUnreadableTokensAreRefused) {
  security.state = {false, false};
  EXPECT_EQ(Run({"a.xml"}), 3);
  EXPECT_EQ(console.text_, "You do not have permission to perform this action.\n");
  EXPECT_EQ(commands.documents, 0);
  security.readable = false;
  security.state = {true, true};
  EXPECT_EQ(Run({"a.xml"}), 3);
  EXPECT_TRUE(xml.calls.empty());  // the file is not opened
}

TEST_F(EntryTest, AFilteredAdministratorIsRelaunchedElevated) {
  security.state = {true, false};
  EXPECT_EQ(Run({"my commands.xml"}), 10);
  ASSERT_EQ(security.launches.size(), 1u);
  EXPECT_EQ(security.launches[0].first, "C:\\tools\\QZRRemote.exe");
  EXPECT_EQ(security.launches[0].second, std::vector<std::string>{"my commands.xml"});
  EXPECT_EQ(console.text_, "");
  EXPECT_EQ(history(), "2010-05-04 13:07, my commands.xml, \n");
  EXPECT_EQ(commands.documents, 0);
}

TEST_F(EntryTest, OlderSystemsAndFailedVersionQueriesRunWithoutElevation) {
  security.state = {true, false};
  process.major = 5;
  EXPECT_EQ(Run({"a.xml"}), 0);
  EXPECT_EQ(commands.documents, 1);
  process.major = 10;
  process.extended_ok = process.plain_ok = false;
  EXPECT_EQ(Run({"a.xml"}), 0);
  EXPECT_EQ(commands.documents, 2);
  EXPECT_TRUE(debug.Has("Failed to get OS version!!!"));
  EXPECT_TRUE(security.launches.empty());
  // The plain record serves when the extended one is refused.
  process.plain_ok = true;
  EXPECT_EQ(Run({"a.xml"}), 10);
}

TEST(SchemaPath, LiesBesideTheExecutable) {
  FakeProcess process;
  std::string path = "unchanged";
  process.module = "C:\\tools\\QZRRemote.exe";
  GetSchemaPath(process, path);
  EXPECT_EQ(path, "C:\\tools\\KVXRemoteCmd.xsd");
  process.module = "C:\\QZRRemote.exe";
  GetSchemaPath(process, path);
  EXPECT_EQ(path, "C:\\KVXRemoteCmd.xsd");
  process.module = "QZRRemote.exe";
  GetSchemaPath(process, path);
  EXPECT_EQ(path, "\\KVXRemoteCmd.xsd");
  process.module = "";
  path = "unchanged";
  GetSchemaPath(process, path);
  EXPECT_EQ(path, "unchanged");
}

TEST(ResultMessage, CodesPickTheirMessages) {
  RecordingDebug debug;
  RecordingConsole console;
  FakeObjects objects;
  FakeProcess process;
  FakeSecurity security;
  FakeStrings strings;
  FakeXml xml;
  MemoryFiles files;
  FakeAnsi ansi;
  FakeClock clock;
  RecordingCommands commands;
  LogFile log({process, files, console, debug, strings, ansi, clock});
  RunContext ctx{debug, console, objects, process, security, strings,
                 XmlLoadContext{xml, files, debug, strings}, log, commands};
  EXPECT_EQ(ShowResultMessage(ctx, 2), 2);
  EXPECT_EQ(console.text_, "Cannot find the XML file.\n");
  EXPECT_EQ(ShowResultMessage(ctx, 6), 6);
  EXPECT_EQ(ShowResultMessage(ctx, 10), 10);
  EXPECT_EQ(ShowResultMessage(ctx, -3), -3);
  EXPECT_EQ(console.text_,
            "Cannot find the XML file.\n"
            "Cannot process the request. Another utility or application is currently running.\n");
  EXPECT_EQ(debug.lines.back(), "The Error Message return is ");
}

TEST(Usage, NamesTheModesCodesAndFiles) {
  EXPECT_TRUE(IsHelpArgument("/?"));
  EXPECT_TRUE(IsHelpArgument("-h"));
  EXPECT_TRUE(IsHelpArgument("--help"));
  EXPECT_FALSE(IsHelpArgument("/h"));
  const std::string text = UsageText("Z:\\opt\\bin\\QZRRemote");
  EXPECT_NE(text.find("copyPersistentData FOLDER"), std::string::npos);
  EXPECT_NE(text.find("QZRRemote /validate FILE"), std::string::npos);
  EXPECT_NE(text.find("QZRRemote /list [/json]"), std::string::npos);
  EXPECT_TRUE(IsValidateArgument("--Validate"));
  EXPECT_FALSE(IsValidateArgument("/validate.xml"));
  EXPECT_NE(text.find("Z:\\opt\\bin\\KVXRemoteCmd.xsd"), std::string::npos);
  EXPECT_NE(text.find("Z:\\opt\\bin\\QZRRemote.log"), std::string::npos);
  EXPECT_NE(text.find("  10  "), std::string::npos);
}

}  // namespace
}  // namespace kvx

namespace kvx {
namespace {

using namespace kvx::testing;

class ListEntryTest : public EntryTest {};

TEST_F(ListEntryTest, TheListingAloneIsPrintedAndTheRunHasItsHistoryLine) {
  EXPECT_EQ(Run({"/list"}), 0);
  EXPECT_EQ(Run({"--LIST", "/JSON"}), 0);
  EXPECT_EQ(commands.listings, (std::vector<bool>{false, true}));
  // No result message after the listing: JSON must stand alone.
  EXPECT_EQ(console.text_, "listing\n{}\n");
  EXPECT_EQ(history(), "2010-05-04 13:07, --LIST, The XML file has been parsed successfully.\n\n");
  EXPECT_EQ(commands.documents, 0);
  EXPECT_TRUE(xml.calls.empty());  // no command file is loaded
}

TEST_F(ListEntryTest, NoModuleIsFiveWithItsOwnMessage) {
  commands.list_result = false;
  EXPECT_EQ(Run({"/list", "/json"}), 5);
  EXPECT_EQ(console.text_, "The flash module could not be reached; nothing was listed.\n");
  EXPECT_EQ(history(), "2010-05-04 13:07, /list, Failed to parse the XML file.\n\n");
}

TEST_F(ListEntryTest, NeedsTheRightsOfACommandFile) {
  security.state = {false, false};
  EXPECT_EQ(Run({"/list"}), 3);
  EXPECT_EQ(console.text_, "You do not have permission to perform this action.\n");
  EXPECT_TRUE(commands.listings.empty());
  // A filtered administrator: relaunched elevated with every argument.
  console.text_.clear();
  security.state = {true, false};
  EXPECT_EQ(Run({"/list", "/json", "extra"}), 10);
  ASSERT_EQ(security.launches.size(), 1u);
  EXPECT_EQ(security.launches[0].second, (std::vector<std::string>{"/list", "/json", "extra"}));
  EXPECT_EQ(console.text_, "");
  EXPECT_TRUE(commands.listings.empty());
}

TEST_F(ListEntryTest, TheSwitchesAreWholeArguments) {
  // "/lists" is neither mode; "/json" alone is no listing.
  EXPECT_EQ(Run({"/lists"}), 1);
  EXPECT_EQ(Run({"/json"}), 1);
  EXPECT_EQ(Run({"/list", "json"}), 0);
  EXPECT_EQ(commands.listings, std::vector<bool>{false});
}

}  // namespace
}  // namespace kvx
