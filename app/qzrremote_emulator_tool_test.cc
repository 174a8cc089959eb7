// The built QZRRemote end to end against kvxemu: the command file and the
// copy mode on the example volume, and the faults a run must survive. Each
// run checks the exit code, the console bytes, the history line, what the
// machine was asked and the volume's files. The waits are real.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/emu_machine.h"
#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;
namespace fs = std::filesystem;

const std::string kExamples = KVX_SOURCE_DIR "/examples";
const std::string kParsed = "The XML file has been parsed successfully.\n";
const std::string kFailed = "Failed to parse the XML file.\n";

// A sandboxed tool and a machine with a copy of `volume`, module off.
struct MachineRun {
  explicit MachineRun(const std::string& volume = kExamples + "/volume") : emu(volume, false, box.machine()) {}
  RunResult Commands(const std::string& file = kExamples + "/commands.xml") const { return box.Run({file}); }
  ToolSandbox box;
  EmuMachine emu;
};

TEST(QZRRemoteOnTheMachine, TheExampleCommandsRunTheWholeCycle) {
  MachineRun run;
  ASSERT_TRUE(run.emu.up());
  const auto before = Snapshot(run.emu.volume());
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kParsed);
  EXPECT_EQ(WithoutTime(run.box.Log()), kExamples + "/commands.xml, " + kParsed + "\n");
  EXPECT_EQ(run.emu.Log(), MainRoadLog());
  const auto after = Snapshot(run.emu.volume());
  EXPECT_FALSE(after.count("QUARLE.000/mary/kvxaccount.ini"));
  EXPECT_TRUE(after.count("QUARLE.SYS/cmds/power.xml"));
  EXPECT_TRUE(after.count("QUARLE.000/john/cmds/password.xml"));
  EXPECT_EQ(after.at("QUARLE.000/user/notes.txt"), before.at("QUARLE.000/user/notes.txt"));
  const std::string state = run.emu.State();
  EXPECT_EQ(JsonValue(state, "power"), "off");
  EXPECT_EQ(JsonValue(state, "mounted"), "false");
  EXPECT_NE(state.find("\"drives\": {}"), std::string::npos);
  EXPECT_NE(state.find("Windows Hardware Insert.wav"), std::string::npos);  // sounds put back
}

TEST(QZRRemoteOnTheMachine, TheCopyModeCopiesTheUserFolder) {
  MachineRun run;
  ASSERT_TRUE(run.emu.up());
  const std::string backup = run.box.work() + "/backup";
  MakeDirs(backup);
  const RunResult r = run.box.Run({"copyPersistentData", backup});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kParsed);
  EXPECT_EQ(WithoutTime(run.box.Log()), "copyPersistentData, " + kParsed + "\n");
  auto expected = Snapshot(kExamples + "/volume/QUARLE.000/user");
  expected.erase(".settings");  // hidden: not copied
  EXPECT_EQ(Snapshot(backup), expected);
  const auto log = run.emu.Log();
  EXPECT_EQ(Starting(log, "firmware: power"),
            (std::vector<std::string>{"firmware: power on", "firmware: power off"}));
  EXPECT_EQ(Starting(log, "service: ").size(), 4u);  // mount, unlock, export, unmount
}

TEST(QZRRemoteOnTheMachine, PipesOnTheVolumeHangNoRunAndTheCycleCloses) {
  MachineRun run;
  ASSERT_TRUE(run.emu.up());
  const std::string volume = run.emu.volume();
  ASSERT_EQ(mkfifo((volume + "/QUARLE.000/user/pipe").c_str(), 0644), 0);
  ASSERT_EQ(unlink((volume + "/QUARLE.000/john/kvxaccount.ini").c_str()), 0);
  ASSERT_EQ(mkfifo((volume + "/QUARLE.000/john/kvxaccount.ini").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((volume + "/QUARLE.000/mary/kvxaccount.ini.kvxtmp").c_str(), 0644), 0);
  const std::string backup = run.box.work() + "/backup";
  MakeDirs(backup);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"copyPersistentData", backup}, {kExamples + "/commands.xml"}}) {
    const RunResult r = run.box.Run(args);
    EXPECT_EQ(r.exit_code, 0) << args[0];
    EXPECT_EQ(r.out, kParsed) << args[0];
    const std::string state = run.emu.State();
    EXPECT_EQ(JsonValue(state, "power"), "off") << args[0];
    EXPECT_EQ(JsonValue(state, "mounted"), "false") << args[0];
  }
  EXPECT_TRUE(fs::exists(backup + "/notes.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(backup + "/pipe")));
}

TEST(QZRRemoteOnTheMachine, AMissingServiceFailsTheRunAndLeavesTheModuleOff) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"service=absent"}));
  const auto before = Snapshot(run.emu.volume());
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(Occurrences(r.out, "cannot open service.\n"), 10u);  // one per mount attempt
  EXPECT_EQ(r.out.substr(r.out.size() - kFailed.size()), kFailed);
  EXPECT_EQ(WithoutTime(run.box.Log()), kExamples + "/commands.xml, " + kFailed + "\n");
  EXPECT_EQ(Starting(run.emu.Log(), "firmware: power"),
            (std::vector<std::string>{"firmware: power on", "firmware: power off"}));
  EXPECT_EQ(Snapshot(run.emu.volume()), before);
}

TEST(QZRRemoteOnTheMachine, APausedOrStoppedServiceIsSentNothing) {
  MachineRun run;
  for (const char* state : {"service=paused", "service=stopped"}) {
    ASSERT_TRUE(run.emu.Set({state, "log=clear"}));
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = run.Commands();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exit_code, 5) << state;
    EXPECT_EQ(r.out, kFailed) << state;
    EXPECT_TRUE(Starting(run.emu.Log(), "service: ").empty()) << state;
    // The power-on and ten failed mounts: 500 ms + 10 x 500 ms.
    EXPECT_GE(took, std::chrono::milliseconds(5500)) << state;
  }
}

TEST(QZRRemoteOnTheMachine, WithTheManagerOffNoMountCanBeAsked) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"scm=off"}));
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, kFailed);
  EXPECT_EQ(JsonValue(run.emu.State(), "power"), "off");
}

TEST(QZRRemoteOnTheMachine, TenEmptyMountsFailTheRunAfterTheirWaits) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"mount_empty=on"}));
  const auto before = Snapshot(run.emu.volume());
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = run.Commands();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, kFailed);
  const auto log = run.emu.Log();
  EXPECT_EQ(Starting(log, "service: mount left an empty device name").size(), 10u);
  EXPECT_TRUE(Starting(log, "driver: ").empty());
  EXPECT_GE(took, std::chrono::milliseconds(5500));  // 500 ms after power-on, ten of 500 ms
  EXPECT_LT(took, std::chrono::milliseconds(9000));  // and no power cycle
  EXPECT_EQ(log.back(), "firmware: power off");      // left as it was found
  EXPECT_EQ(Snapshot(run.emu.volume()), before);
}

TEST(QZRRemoteOnTheMachine, AnUnlockThatCannotBeAskedEndsTheRunAsItFoundTheMachine) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"scm_opens_left=1"}));  // the mount reaches the manager, the unlock not
  const auto before = Snapshot(run.emu.volume());
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, kFailed);
  const std::string state = run.emu.State();
  EXPECT_EQ(JsonValue(state, "power"), "off");
  EXPECT_NE(state.find("\"drives\": {}"), std::string::npos);
  EXPECT_EQ(Snapshot(run.emu.volume()), before);
}

TEST(QZRRemoteOnTheMachine, AMountThatDoesNotAnswerOnceCostsOnePowerCycle) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"mounts_not_answering=1"}));
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kParsed);
  const auto log = run.emu.Log();
  EXPECT_EQ(Starting(log, "firmware: power"),
            (std::vector<std::string>{"firmware: power on", "firmware: power off", "firmware: power on",
                                      "firmware: power off"}));
  EXPECT_EQ(Starting(log, "service: mount").size(), 2u);
}

TEST(QZRRemoteOnTheMachine, AnUnlockOrUnmountTheServiceRefusesGoesUnnoticed) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"refuse=136,135"}));
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 0);  // the senders cannot tell
  const auto log = run.emu.Log();
  EXPECT_EQ(Starting(log, "service: refused"),
            (std::vector<std::string>{"service: refused code 136", "service: refused code 135"}));
  // The tool still removed its drive and powered off; the volume went with the power.
  EXPECT_EQ(log.back(), "service: volume gone with the power");
  EXPECT_EQ(JsonValue(run.emu.State(), "mounted"), "false");
}

TEST(QZRRemoteOnTheMachine, AnUnmountThatCannotBeAskedLeavesDriveAndPower) {
  MachineRun run;
  // The mount, the unlock and the three exports reach the manager; the
  // unmount does not.
  ASSERT_TRUE(run.emu.Set({"scm_opens_left=5"}));
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 0);
  const std::string state = run.emu.State();
  EXPECT_EQ(JsonValue(state, "power"), "on");
  EXPECT_NE(state.find("\"drives\": {\"~\": "), std::string::npos);
  EXPECT_EQ(run.emu.Log().back(), "service: export: 2 accounts [john, User]");
}

TEST(QZRRemoteOnTheMachine, APowerOffThatFailsLeavesTheModuleOn) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"power_off=fail"}));
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 0);
  const std::string state = run.emu.State();
  EXPECT_EQ(JsonValue(state, "power"), "on");
  EXPECT_NE(state.find("\"drives\": {}"), std::string::npos);
  EXPECT_EQ(run.emu.Log().back(), "firmware: power off failed (knob)");
}

TEST(QZRRemoteOnTheMachine, WithoutTheDriverNothingIsTouched) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"driver=absent", "driver_file=missing"}));
  const auto before = Snapshot(run.emu.volume());
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, kFailed);
  const auto log = run.emu.Log();
  EXPECT_FALSE(Starting(log, "scm: start KVXIO failed").empty());
  EXPECT_TRUE(Starting(log, "firmware: ").empty());
  EXPECT_EQ(Snapshot(run.emu.volume()), before);
}

TEST(QZRRemoteOnTheMachine, AUserListHeldTooLongIsGivenUp) {
  MachineRun run;
  ASSERT_TRUE(run.emu.Set({"user_mutex_hold_ms=4000"}));
  DebugViewer viewer(run.box.machine());
  const RunResult r = run.Commands();
  const auto lines = viewer.Stop();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Begin NotifyServiceUsersName"), lines.end());
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "End NotifyServiceUsersName"), lines.end());
  EXPECT_EQ(run.emu.Log()[8], "service: export (no user list handed over yet)");  // the list was never written
}

TEST(QZRRemoteOnTheMachine, AMachineThatDiesMidRunEndsTheRunCleanly) {
  MachineRun run;
  const auto before = Snapshot(run.emu.volume());
  pid_t emu_pid = 0;
  std::ifstream(run.box.machine() + "/emu/kvxemu.pid") >> emu_pid;
  ASSERT_GT(emu_pid, 0);
  DebugViewer viewer(run.box.machine());
  const pid_t tool = StartProgram(run.box.CommandLine({kExamples + "/commands.xml"}, {}), run.box.Env({}),
                                  run.box.work(), run.box.work() + "/out");
  ASSERT_TRUE(viewer.WaitForLine("Begin NotifyServiceMountFlash", 20));
  kill(emu_pid, SIGKILL);  // during the tool's wait after the mount
  EXPECT_EQ(WaitProgram(tool), 5);
  EXPECT_EQ(ReadFile(run.box.work() + "/out"), kFailed);
  viewer.Stop();
  EXPECT_EQ(Snapshot(run.emu.volume()), before);  // nothing lost or cut
}

TEST(QZRRemoteOnTheMachine, ASecondCopyDuringARunIsTurnedAway) {
  MachineRun run;
  DebugViewer viewer(run.box.machine());
  const pid_t first = StartProgram(run.box.CommandLine({kExamples + "/commands.xml"}, {}), run.box.Env({}),
                                   run.box.work(), run.box.work() + "/first.out");
  ASSERT_TRUE(viewer.WaitForLine("BeginFlash is starting ....", 20));
  const RunResult second = run.box.Run({kExamples + "/commands.xml"});
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_EQ(second.out, "Cannot process the request. Another utility or application is currently running.\n");
  EXPECT_EQ(WaitProgram(first), 0);
  EXPECT_EQ(ReadFile(run.box.work() + "/first.out"), kParsed);
  viewer.Stop();
  EXPECT_EQ(run.emu.Log(), MainRoadLog());  // one cycle only
}


TEST(QZRRemoteOnTheMachine, MoreThanFortyAccountsAreCountedButFortyNamed) {
  TempDir volume;
  MachineRun run(WriteManyAccountsVolume(volume.path(), 46));
  WriteFile(run.box.work() + "/delete.xml",
            "<remoteCmd><singleUser action='deleteUser' user='a45'/></remoteCmd>\n");
  const RunResult r = run.box.Run({"delete.xml"});
  EXPECT_EQ(r.exit_code, 0);
  const auto exports = Starting(run.emu.Log(), "service: export: 45 accounts [a00, a01,");
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].substr(exports[0].size() - 9), "a38, a39]");
  EXPECT_FALSE(fs::exists(run.emu.volume() + "/QUARLE.000/a45/kvxaccount.ini"));
}

// A change that could not be made fails the run with 5, its message and
// its history line, after the other accounts and the later steps were done
// and the cycle was closed.
TEST(QZRRemoteOnTheMachine, AChangeNotMadeEndsTheRunWithFive) {
  MachineRun run;
  ASSERT_TRUE(run.emu.up());
  const std::string john = run.emu.volume() + "/QUARLE.000/john/kvxaccount.ini";
  const std::string before = ReadFile(john);
  chmod(john.c_str(), 0444);
  WriteFile(run.box.work() + "/va.xml",
            "<remoteCmd><configVA><mail action='0'/></configVA><configRadio wlan='on'/></remoteCmd>\n");
  const RunResult r = run.box.Run({"va.xml"});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, kFailed);
  EXPECT_EQ(WithoutTime(run.box.Log()), "va.xml, " + kFailed + "\n");
  EXPECT_EQ(ReadFile(john), before);
  EXPECT_NE(ReadFile(run.emu.volume() + "/QUARLE.000/User/kvxaccount.ini").find("MAIL=0"), std::string::npos);
  EXPECT_TRUE(fs::exists(run.emu.volume() + "/QUARLE.SYS/cmds/radio.xml"));
  EXPECT_EQ(JsonValue(run.emu.State(), "power"), "off");
}

// A deleteUser killed the moment john's account file is gone has already
// removed everything else in his folder: the account file goes last, so a
// kill any earlier leaves an account that the next deleteUser finishes.
TEST(QZRRemoteOnTheMachine, ADeleteKilledWhenTheAccountFileIsGoneLeftNothingElse) {
  MachineRun run;
  ASSERT_TRUE(run.emu.up());
  const std::string john = run.emu.volume() + "/QUARLE.000/john";
  MakeDirs(john + "/pfldr");
  for (int i = 0; i < 2000; ++i) WriteFile(john + "/pfldr/f" + std::to_string(i), "x");
  WriteFile(run.box.work() + "/del.xml",
            "<remoteCmd><singleUser action='deleteUser' user='john'/></remoteCmd>\n");
  const pid_t tool = StartProgram(run.box.CommandLine({"del.xml"}, {}), run.box.Env({}),
                                  run.box.work(), run.box.work() + "/out");
  int status = 0;
  bool ended = false;
  while (fs::exists(john + "/kvxaccount.ini") && !(ended = waitpid(tool, &status, WNOHANG) == tool)) {
  }
  if (!ended) {
    kill(tool, SIGKILL);
    waitpid(tool, &status, 0);
  }
  EXPECT_FALSE(fs::exists(john + "/kvxaccount.ini"));
  EXPECT_FALSE(fs::exists(john + "/pfldr"));
}

}  // namespace
}  // namespace kvx
