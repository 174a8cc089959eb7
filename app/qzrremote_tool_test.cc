// The built QZRRemote, run as an administrator runs it: exit codes, the
// exact bytes on standard output, the history log and the debugger output.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include <fstream>
#include <cctype>

#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;

const char kValid[] =
    "<?xml version='1.0'?>\n<remoteCmd>\n  <singleUser action='resetUser' user='john'/>\n"
    "</remoteCmd>\n";

// The history log without its leading time stamp, or "no time stamp".
std::string WithoutTime(const std::string& log) {
  const std::string shape = "dddd-dd-dd dd:dd, ";
  bool ok = log.size() >= shape.size();
  for (size_t i = 0; ok && i < shape.size(); ++i)
    ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(log[i])) != 0 : log[i] == shape[i];
  if (!ok) return "no time stamp: " + log;
  return log.substr(shape.size());
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool AnyEndsWith(const std::vector<std::string>& lines, const std::string& suffix) {
  for (const std::string& l : lines)
    if (l.size() >= suffix.size() && l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0)
      return true;
  return false;
}

bool AnyStartsWith(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) return true;
  return false;
}

// Runs the tool with its standard output either a pipe nobody reads or
// closed altogether, and returns how it ended (-1: killed by a signal).
int RunWithUnreadableOutput(const ToolSandbox& box, const std::vector<std::string>& args,
                            bool closed) {
  int fds[2];
  if (pipe(fds) != 0) return -2;
  close(fds[0]);  // no reader: a write raises SIGPIPE
  const std::vector<std::string> argv = box.CommandLine(args, {});
  const std::vector<std::string> env = box.Env({});
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(box.work().c_str()) != 0) _exit(126);
    if (closed) {
      close(1);
    } else {
      dup2(fds[1], 1);
    }
    close(fds[1]);
    std::vector<char*> a, e;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    for (const std::string& s : env) e.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    e.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execve(a[0], a.data(), e.data());
    _exit(127);
  }
  close(fds[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(QZRRemote, AnOutputNobodyReadsChangesNothingElse) {
  for (const bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "closed" : "pipe without reader");
    ToolSandbox box;
    EXPECT_EQ(RunWithUnreadableOutput(box, {}, closed), 1);
    // The history line is whole, and the console's text went nowhere else.
    EXPECT_EQ(WithoutTime(box.Log()), ", You must specify the XML file name.\n\n");
    WriteFile(box.work() + "/bad.xml", "<remoteCmd>");
    EXPECT_EQ(RunWithUnreadableOutput(box, {"bad.xml"}, closed), 4);
    EXPECT_EQ(WithoutTime(box.Log()), "bad.xml, Failed to verify the XML file.\n\n");
  }
}

TEST(QZRRemote, NoArgumentAsksForTheFileName) {
  ToolSandbox box;
  DebugViewer viewer(box.machine());
  RunResult r = box.Run({});
  const std::vector<std::string> lines = viewer.Stop();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "You must specify the XML file name.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(WithoutTime(box.Log()), ", You must specify the XML file name.\n\n");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Before create VeskQZRGlobalMutex.");
  EXPECT_EQ(lines[1], "The VeskQZRGlobalMutex create successfully.");
  EXPECT_EQ(WithoutTime(lines[2] + "\n"), ", You must specify the XML file name.\n");
  EXPECT_EQ(lines[3], "");  // the message's own line feed, then the line's
  EXPECT_EQ(lines[4], "The Error Message return is You must specify the XML file name.");
}

TEST(QZRRemote, MessagesFollowTheLocale) {
  ToolSandbox box;
  RunResult r = box.Run({}, {.env = {"LANG=de_DE.UTF-8"}});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Sie müssen den Namen der XML-Datei angeben.\n");
  EXPECT_EQ(WithoutTime(box.Log()), ", Sie müssen den Namen der XML-Datei angeben.\n\n");

  // LC_ALL wins over LANG; messages 106 and 107 of Simplified Chinese carry
  // no line feed of their own.
  WriteFile(box.work() + "/bad.xml", "<remoteCmd><x/></remoteCmd>");
  r = box.Run({"bad.xml"}, {.env = {"LANG=de_DE.UTF-8", "LC_ALL=zh_CN.UTF-8"}});
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.out, "验证 XML 文件失败。");
  EXPECT_EQ(WithoutTime(box.Log()), "bad.xml, 验证 XML 文件失败。\n");

  // The language of the messages and the character set are chosen apart:
  // Japanese messages in a C character set reach the log as "?".
  r = box.Run({"bad.xml"}, {.env = {"LC_MESSAGES=ja_JP.UTF-8"}});
  EXPECT_EQ(r.out, "XML ファイルを検証できませんでした。\n");
  EXPECT_EQ(WithoutTime(box.Log()), "bad.xml, XML ????????????????\n\n");
  r = box.Run({"bad.xml"}, {.env = {"LC_MESSAGES=ja_JP.UTF-8", "LC_CTYPE=C.UTF-8"}});
  EXPECT_EQ(WithoutTime(box.Log()), "bad.xml, XML ファイルを検証できませんでした。\n\n");

  // The console is UTF-8 whatever the locale; the history line is in the
  // locale's own character set.
  r = box.Run({"bad.xml"}, {.env = {"LC_ALL=fr_FR.ISO-8859-1"}});
  EXPECT_EQ(r.out, "Échec de la vérification du fichier XML.\n");
  EXPECT_EQ(WithoutTime(box.Log()), "bad.xml, \xC9" "chec de la v\xE9rification du fichier XML.\n\n");

  r = box.Run({}, {.env = {"LANG=ru_RU.UTF-8"}});
  EXPECT_EQ(r.out, "You must specify the XML file name.\n");
}

TEST(QZRRemote, AValidFileReachesTheCommandStage) {
  ToolSandbox box;
  WriteFile(box.work() + "/commands.xml", kValid);
  DebugViewer viewer(box.machine());
  RunResult r = box.Run({"commands.xml"});
  const std::vector<std::string> lines = viewer.Stop();
  EXPECT_TRUE(Contains(lines, "The Second CMD Line is commands.xml"));
  EXPECT_TRUE(Contains(lines, "pXS.CreateInstance MSXML2::XMLSchemaCache successful."));
  EXPECT_TRUE(Contains(lines, "pXD->load(commands.xml) successful."));
  // The driver runs; with no emulated machine in this folder the module's
  // driver cannot be reached, so the flash cycle does not open.
  EXPECT_TRUE(Contains(lines, "BeginFlash is starting ...."));
  EXPECT_TRUE(Contains(lines, "Failed when InitializeWinIo."));
  EXPECT_TRUE(Contains(lines, " FlashPowerOn Failed"));
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, "Failed to parse the XML file.\n");
  EXPECT_EQ(WithoutTime(box.Log()), "commands.xml, Failed to parse the XML file.\n\n");
}

TEST(QZRRemote, TheExampleFilesGetTheirResults) {
  ToolSandbox box;
  EXPECT_EQ(box.Run({KVX_SOURCE_DIR "/examples/commands.xml"}).exit_code, 5);
  EXPECT_EQ(box.Run({KVX_SOURCE_DIR "/examples/invalid-command.xml"}).exit_code, 4);
  EXPECT_EQ(box.Run({KVX_SOURCE_DIR "/examples/not-well-formed.xml"}).exit_code, 4);
}

TEST(QZRRemote, BadCommandFilesAreRefusedWithResultFour) {
  ToolSandbox box;
  const std::string w = box.work();
  WriteFile(w + "/empty.xml", "");
  static const char kGarbage[] = "\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe";
  WriteFile(w + "/garbage.xml", std::string(kGarbage, sizeof kGarbage - 1));
  WriteFile(w + "/broken.xml", "<remoteCmd><singleUser></remoteCmd>");
  WriteFile(w + "/invalid.xml", "<remoteCmd>\n<singleUser action='x' extra='y'/>\n</remoteCmd>");
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<configVA>";
  WriteFile(w + "/deep.xml", "<remoteCmd>" + deep);
  std::string bomb = "<!DOCTYPE remoteCmd [<!ENTITY a 'aaaaaaaaaa'>";
  std::string prev = "a";
  for (char c = 'b'; c <= 'k'; ++c) {
    bomb += std::string("<!ENTITY ") + c + " '";
    for (int k = 0; k < 10; ++k) bomb += "&" + prev + ";";
    bomb += "'>";
    prev = std::string(1, c);
  }
  WriteFile(w + "/bomb.xml", bomb + "]><remoteCmd><configPower x='&k;'/></remoteCmd>");
  for (const char* name : {"missing.xml", "empty.xml", "garbage.xml", "broken.xml", "invalid.xml",
                           "deep.xml", "bomb.xml"}) {
    DebugViewer viewer(box.machine());
    RunResult r = box.Run({name});
    const std::vector<std::string> lines = viewer.Stop();
    EXPECT_EQ(r.exit_code, 4) << name;
    EXPECT_EQ(r.out, "Failed to verify the XML file.\n") << name;
    EXPECT_EQ(r.err, "") << name;
    EXPECT_TRUE(AnyStartsWith(lines, "The Error Code is 80")) << name;
    EXPECT_TRUE(AnyEndsWith(lines, std::string(", and the error String is Validation failed on ") +
                                       name + " "))
        << name;
    EXPECT_EQ(WithoutTime(box.Log()), std::string(name) + ", Failed to verify the XML file.\n\n");
  }
  DebugViewer viewer(box.machine());
  box.Run({"missing.xml"});
  const std::vector<std::string> lines = viewer.Stop();
  EXPECT_TRUE(Contains(lines, "Reason: failed to load external entity \"" + w +
                                  "/missing.xml\": No such file or directory"));
}

TEST(QZRRemote, ANetworkEntityIsNeverFetched) {
  ToolSandbox box;
  WriteFile(box.work() + "/net.xml",
            "<!DOCTYPE remoteCmd [<!ENTITY e SYSTEM 'http://127.0.0.1:9/e.xml'>]>"
            "<remoteCmd><configRadio>&e;</configRadio></remoteCmd>");
  const auto start = std::chrono::steady_clock::now();
  RunResult r = box.Run({"net.xml"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.exit_code == 4 || r.exit_code == 5) << r.exit_code;
  EXPECT_LT(took, std::chrono::seconds(20));  // no connection was waited for
}

TEST(QZRRemote, AHundredMegabyteFileIsValidated) {
  ToolSandbox box;
  const std::string path = box.work() + "/big.xml";
  {
    std::ofstream out(path);
    out << "<remoteCmd>\n";
    for (int i = 0; i < 1'800'000; ++i)
      out << "  <singleUser action=\"resetUser\" user=\"account" << i << "\"/>\n";
    out << "</remoteCmd>\n";
  }
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  ASSERT_GE(st.st_size, 100'000'000);
  DebugViewer viewer(box.machine());
  RunResult r = box.Run({"big.xml"});
  const std::vector<std::string> lines = viewer.Stop();
  EXPECT_TRUE(Contains(lines, "pXD->load(big.xml) successful."));
  EXPECT_EQ(r.exit_code, 5);
}

TEST(QZRRemote, SchemaProblemsAreResultFour) {
  {
    ToolSandbox box;
    WriteFile(box.work() + "/c.xml", kValid);
    unlink((box.bin() + "/KVXRemoteCmd.xsd").c_str());
    DebugViewer viewer(box.machine());
    RunResult r = box.Run({"c.xml"});
    const std::vector<std::string> lines = viewer.Stop();
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_TRUE(Contains(lines, "_waccess return Error, and the error number is 2"));
    std::string windows = "Z:" + box.bin() + "/KVXRemoteCmd.xsd";
    for (char& c : windows)
      if (c == '/') c = '\\';
    EXPECT_TRUE(Contains(lines, "The file " + windows + " is not existed"));
  }
  {
    ToolSandbox box;
    WriteFile(box.work() + "/c.xml", kValid);
    unlink((box.bin() + "/KVXRemoteCmd.xsd").c_str());
    MakeDirs(box.bin() + "/KVXRemoteCmd.xsd");
    DebugViewer viewer(box.machine());
    EXPECT_EQ(box.Run({"c.xml"}).exit_code, 4);
    EXPECT_TRUE(Contains(viewer.Stop(), "pXS->add failed"));
  }
  {
    ToolSandbox box;
    WriteFile(box.work() + "/c.xml", kValid);
    WriteFile(box.bin() + "/KVXRemoteCmd.xsd",
              "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:kvx'>"
              "<xs:element name='remoteCmd'/></xs:schema>");
    DebugViewer viewer(box.machine());
    EXPECT_EQ(box.Run({"c.xml"}).exit_code, 4);
    EXPECT_TRUE(Contains(viewer.Stop(), "pXS->add failed"));
  }
}

TEST(QZRRemote, ArgumentsOfNeitherModeRunNothing) {
  ToolSandbox box;
  WriteFile(box.work() + "/commands.XML", kValid);
  RunResult r = box.Run({"commands.XML"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "You must specify the XML file name.\n");
  EXPECT_EQ(WithoutTime(box.Log()), "commands.XML, You must specify the XML file name.\n\n");

  r = box.Run({"COPYPERSISTENTDATA"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "You must specify the XML file name.\n");
}

TEST(QZRRemote, HistoryLinesAreCutAndCopiedLiterally) {
  ToolSandbox box;
  RunResult r = box.Run({std::string(5000, 'x')});
  EXPECT_EQ(r.exit_code, 1);
  const std::string log = box.Log();
  ASSERT_EQ(log.size(), 1023u);
  EXPECT_EQ(log.back(), '\n');
  EXPECT_EQ(WithoutTime(log), std::string(1004, 'x') + "\n");

  r = box.Run({"%s%d%x.xml"});
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(WithoutTime(box.Log()), "%s%d%x.xml, Failed to verify the XML file.\n\n");
}

TEST(QZRRemote, ALogThatCannotBeOpenedIsReportedAndTheRunGoesOn) {
  ToolSandbox box;
  MakeDirs(box.log_path());  // a folder where the log would be
  RunResult r = box.Run({});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "The file 'LOGFILE' was not opened\nYou must specify the XML file name.\n");
}

TEST(QZRRemote, AReadOnlyToolFolderKeepsNoLogForAnOrdinaryUser) {
  if (!CanRunAsOtherUser()) GTEST_SKIP() << "needs root and setpriv";
  ToolSandbox box;
  chmod(box.bin().c_str(), 0555);
  RunResult r = box.Run({}, {.as_other_user = true});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "The file 'LOGFILE' was not opened\nYou must specify the XML file name.\n");
}

TEST(QZRRemote, OnlyAdministratorsMayRunCommandFiles) {
  if (!CanRunAsOtherUser()) GTEST_SKIP() << "needs root and setpriv";
  ToolSandbox box;
  WriteFile(box.work() + "/c.xml", kValid);
  chmod((box.work() + "/c.xml").c_str(), 0644);
  RunResult r = box.Run({"c.xml"}, {.as_other_user = true});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, "You do not have permission to perform this action.\n");
  EXPECT_EQ(WithoutTime(box.Log()), "c.xml, You do not have permission to perform this action.\n\n");
}

TEST(QZRRemote, AFilteredAdministratorIsRelaunchedElevated) {
  if (!CanRunAsOtherUser()) GTEST_SKIP() << "needs root and setpriv";
  group* sudo = getgrnam("sudo");
  if (sudo == nullptr) GTEST_SKIP() << "no sudo group";
  ToolSandbox box;
  TempDir fake;
  const std::string record = fake / "record";
  WriteFile(fake / "sudo", "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + record + "\n");
  chmod((fake / "sudo").c_str(), 0755);
  RunResult r = box.Run({"my commands.xml"}, {.path = fake.path() + ":/usr/bin:/bin",
                                              .as_other_user = true,
                                              .groups = {static_cast<unsigned>(sudo->gr_gid)}});
  EXPECT_EQ(r.exit_code, 10);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(WithoutTime(box.Log()), "my commands.xml, \n");
  ASSERT_TRUE(WaitForFile(record, 20));
  WaitForFile(record, 1);
  // sudo is handed a shell with a fixed script; the working folder, the
  // machine folder, the tool and the file follow it as separate arguments.
  const std::string tail = "\nQZRRemote\n" + box.work() + "\n" + box.machine() + "\n" +
                           box.tool() + "\nmy commands.xml\n";
  auto complete = [&] {
    const std::string got = ReadFile(record);
    return got.size() >= tail.size() && got.compare(got.size() - tail.size(), tail.size(), tail) == 0;
  };
  for (int i = 0; i < 100 && !complete(); ++i) usleep(20000);
  const std::string got = ReadFile(record);
  EXPECT_EQ(got.rfind("--\n/bin/sh\n-c\n", 0), 0u) << got;
  EXPECT_TRUE(complete()) << got;
}

TEST(QZRRemote, ASecondCopyIsTurnedAwayAndTheFirstGoesOn) {
  ToolSandbox box;
  {
    std::ofstream out(box.work() + "/long.xml");
    out << "<remoteCmd>\n";
    for (int i = 0; i < 600'000; ++i) out << "<allUser action=\"resetUser\"/>\n";
    out << "</remoteCmd>\n";
  }
  DebugViewer viewer(box.machine());
  const pid_t first = StartProgram(box.CommandLine({"long.xml"}, {}), box.Env({}), box.work(),
                                   box.work() + "/first.out");
  ASSERT_TRUE(viewer.WaitForLine("The Second CMD Line is long.xml", 30));
  RunResult second = box.Run({"c.xml"});
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_EQ(second.out,
            "Cannot process the request. Another utility or application is currently running.\n");
  EXPECT_EQ(WaitProgram(first), 5);
  EXPECT_EQ(ReadFile(box.work() + "/first.out"), "Failed to parse the XML file.\n");
  // The second start truncated the log; only the first run's line is there.
  EXPECT_EQ(WithoutTime(box.Log()), "long.xml, Failed to parse the XML file.\n\n");
  const std::vector<std::string> lines = viewer.Stop();
  EXPECT_TRUE(Contains(lines, "The VeskQZRGlobalMutex is already existed."));
  EXPECT_TRUE(Contains(lines, "pXD->load(long.xml) successful."));
}

TEST(QZRRemote, HelpRunsNothingAndKeepsTheLog) {
  ToolSandbox box;
  WriteFile(box.log_path(), "earlier line\n");
  for (const char* arg : {"/?", "-h", "--help"}) {
    RunResult r = box.Run({arg});
    EXPECT_EQ(r.exit_code, 0) << arg;
    EXPECT_NE(r.out.find("Usage: QZRRemote COMMANDS.xml"), std::string::npos) << arg;
    EXPECT_NE(r.out.find("copyPersistentData FOLDER"), std::string::npos) << arg;
  }
  EXPECT_EQ(box.Log(), "earlier line\n");
}

TEST(QZRRemote, TheCopyModeWithoutAFlashCycleReportsFailure) {
  ToolSandbox box;
  RunResult r = box.Run({"copyPersistentData", box.work() + "/backup"});
  // No machine answers in this folder: no flash cycle opens, nothing is copied.
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, "Failed to parse the XML file.\n");
}

}  // namespace
}  // namespace kvx
