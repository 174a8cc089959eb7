// The built QZRRemote in its /validate mode, run as an administrator runs
// it: the report of a file that fails, what a file that passes will do,
// the exit codes, and a history log left as it was.
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;

const std::string kExamples = KVX_SOURCE_DIR "/examples";

// A sandbox whose history log holds a line of an earlier run.
class ValidateTool : public ::testing::Test {
 protected:
  ValidateTool() { WriteFile(box.log_path(), kEarlier); }
  RunResult Validate(const std::string& file, const RunOptions& options = {}) const {
    return box.Run({"/validate", file}, options);
  }
  void ExpectLogUntouched() const { EXPECT_EQ(box.Log(), kEarlier); }

  static constexpr const char* kEarlier = "2024-01-01 10:00, a.xml, The XML file has been parsed successfully.\n\n";
  ToolSandbox box;
};

TEST_F(ValidateTool, TheExampleFileAndWhatItWillDo) {
  const RunResult r = Validate(kExamples + "/commands.xml");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kExamples + "/commands.xml is valid. A run will do, in this order:\n"
                   "  ask account john for a new password at its next start\n"
                   "  reset account User\n"
                   "  copy the tool's folder into the user folder of the flash\n"
                   "  delete account mary\n"
                   "  ask every account for a new password at its next start\n"
                   "  mail off for every account\n"
                   "  web on for every account\n"
                   "  chat off for every account\n"
                   "  voip on for every account\n"
                   "  rdesktop on for every account\n"
                   "  icaclient on for every account\n"
                   "  vmware on for every account\n"
                   "  photo on for every account\n"
                   "  music on for every account\n"
                   "  password settings: configPassword minLength=\"8\" complexity=\"1\" expireDays=\"90\"\n"
                   "  power settings: ac standby=\"30\" hibernate=\"120\"; dc standby=\"10\" hibernate=\"60\"; "
                   "lid action=\"sleep\"\n"
                   "  radio settings: configRadio wlan=\"on\" bluetooth=\"off\" wwan=\"off\"\n");
  EXPECT_EQ(r.err, "");
  ExpectLogUntouched();
}

TEST_F(ValidateTool, EachKindOfFailureGivesItsReportAndFour) {
  WriteFile(box.work() + "/empty.xml", "");
  struct Case {
    std::string file, reason, source, line;
  };
  const std::string absent = box.work() + "/absent.xml";
  const Case cases[] = {
      {kExamples + "/not-well-formed.xml", "Opening and ending tag mismatch: singleUser line 4 and remoteCmd",
       "</remoteCmd>", "5"},
      {kExamples + "/invalid-command.xml", "Element 'formatDisk': This element is not expected.",
       "  <formatDisk drive=\"~:\"/>", "6"},
      {"empty.xml", "Document is empty", "", "1"},
      {"absent.xml", "failed to load external entity \"" + absent + "\": No such file or directory", "", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const RunResult r = Validate(c.file);
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.out, "Validation failed on " + c.file + " \n=====================\nReason: " + c.reason +
                         "\nSource: " + c.source + "\nLine: " + c.line + "\n");
    ExpectLogUntouched();
  }
  // Without its schema the tool can check nothing: the report names it.
  ASSERT_EQ(unlink((box.bin() + "/KVXRemoteCmd.xsd").c_str()), 0);
  std::string schema = "Z:" + box.bin() + "/KVXRemoteCmd.xsd";
  for (char& c : schema)
    if (c == '/') c = '\\';
  const RunResult r = Validate(kExamples + "/commands.xml");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.out, "Validation failed on " + kExamples + "/commands.xml \n=====================\n"
                   "Reason: the schema " + schema + " is missing or cannot be used\n"
                   "Source: \nLine: 0\n");
}

TEST_F(ValidateTool, AFileWithNoEffectAtAllSaysSo) {
  WriteFile(box.work() + "/noop.txt",
            "<remoteCmd><singleUser action='Reset' user='john'/><allUser/>"
            "<configVA><singleuser/></configVA></remoteCmd>");
  const RunResult r = Validate("noop.txt");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "noop.txt is valid. A run will do, in this order:\n"
            "  no effect: action \"Reset\" is not supported here (the run shows an error box)\n"
            "  no effect: allUser without an action or an account\n"
            "  no effect: configVA names singleuser without a user; no account changes\n"
            "  nothing: the file holds no command\n"
            "  note: the name has no \".xml\"; a run would not take it as a command file\n");
  ExpectLogUntouched();
}

TEST_F(ValidateTool, NoFileNamedAsksForIt) {
  for (const char* mode : {"/validate", "--validate", "/VALIDATE"}) {
    SCOPED_TRACE(mode);
    const RunResult r = box.Run({mode});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "You must specify the XML file name.\n");
    ExpectLogUntouched();
  }
}

TEST_F(ValidateTool, InTheUsersLanguage) {
  WriteFile(box.work() + "/c.xml", "<remoteCmd><allUser action='deleteUser'/><configRadio wlan='off'/></remoteCmd>");
  RunResult r = Validate("c.xml", {.env = {"LANG=de_DE.UTF-8"}});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "c.xml ist gültig. Ein Lauf erledigt in dieser Reihenfolge:\n"
                   "  jedes Konto löschen\n"
                   "  Funkeinstellungen: configRadio wlan=\"off\"\n");
  r = Validate(kExamples + "/not-well-formed.xml", {.env = {"LANG=de_DE.UTF-8"}});
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.out.rfind("Überprüfung fehlgeschlagen für " + kExamples + "/not-well-formed.xml \n", 0), 0u)
      << r.out;
  ExpectLogUntouched();
}

TEST_F(ValidateTool, NeedsNoRights) {
  if (!CanRunAsOtherUser()) GTEST_SKIP() << "needs root and setpriv";
  // An ordinary user: no relaunch, no refusal.
  const RunResult r = Validate(kExamples + "/commands.xml", {.as_other_user = true});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind(kExamples + "/commands.xml is valid.", 0), 0u) << r.out;
}

}  // namespace
}  // namespace kvx
