// The Windows tool end to end under Wine, against the emulated machine
// under Wine: kvxemu --wine with the kernel driver in Wine's driver host,
// the companion service under Wine's service manager and the management
// stand-in, in a prefix of each test's own. Each run checks the exit code,
// the console bytes, the history line, what the machine was asked and the
// volume's files, against the same run of the POSIX tool on a POSIX
// machine.
//
// The tool is the product, the 32-bit QZRRemote.exe, on the 64-bit Windows
// that the machine under Wine is: KVX_WIN_BUILD names the 32-bit Windows
// build folder (bin/, lib/, tools/, tests/), KVX_WINE_MACHINE the tools
// folder of the 64-bit build that makes the machine; ./run sets both for
// the Windows stage.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "emulator/wine_steps.h"
#include "tests/emu_machine.h"
#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;
namespace fs = std::filesystem;

const std::string kExamples = KVX_SOURCE_DIR "/examples";
const std::string kParsed = "The XML file has been parsed successfully.\r\n";
const std::string kFailed = "Failed to parse the XML file.\r\n";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}
std::string WinBuild() { return Variable("KVX_WIN_BUILD"); }
std::string MachineTools() { return Variable("KVX_WINE_MACHINE"); }

// The machine type in a Windows program's file header (0x14c for i386,
// 0x8664 for x86-64); 0 when it is no Windows program.
unsigned ImageMachine(const std::string& path) {
  const std::string bytes = ReadFile(path);
  if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return 0;
  const size_t pe = static_cast<unsigned char>(bytes[0x3c]) | static_cast<unsigned char>(bytes[0x3d]) << 8;
  if (pe + 6 > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
  return static_cast<unsigned char>(bytes[pe + 4]) | static_cast<unsigned char>(bytes[pe + 5]) << 8;
}

// The Wine and the Windows paths kvxemu itself uses.
std::string Loader() { return emu::DefaultWineLoader(); }
std::string WindowsPath(const std::string& unix_path) { return emu::WindowsPathOf(unix_path); }

// A fresh Wine prefix made once per run of this program; each machine
// starts from a copy of it, which costs a fraction of a wineboot.
const std::string& TemplatePrefix() {
  static TempDir dir;
  static std::string prefix;
  if (prefix.empty()) {
    const std::string p = dir / "prefix";
    const std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=" + dir.path(), "WINEPREFIX=" + p,
                                          "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
    if (RunProgram({Loader(), "wineboot", "-i"}, env, dir.path()).exit_code == 0 &&
        RunProgram({"/usr/bin/wineserver", "-w"}, env, dir.path()).exit_code == 0) {
      prefix = p;
    }
  }
  return prefix;
}

// The Windows tool's folder (QZRRemote.exe and its schema), a machine
// folder that is also the Wine prefix, and a working folder.
class WineSandbox {
 public:
  WineSandbox() {
    for (const char* d : {"bin", "work"}) MakeDirs(root_ / d);
    fs::copy_file(WinBuild() + "/bin/QZRRemote.exe", bin() + "/QZRRemote.exe");
    fs::copy_file(WinBuild() + "/bin/KVXRemoteCmd.xsd", bin() + "/KVXRemoteCmd.xsd");
    if (!TemplatePrefix().empty()) {
      fs::copy(TemplatePrefix(), machine(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
  }
  std::string bin() const { return root_ / "bin"; }
  std::string machine() const { return root_ / "machine"; }
  std::string work() const { return root_ / "work"; }
  std::string Log() const { return ReadFile(bin() + "/QZRRemote.log"); }
  std::vector<std::string> Env() const {
    // Wine gives the host's file system names outside ASCII only in a
    // UTF-8 locale (the example volume has one).
    return {"PATH=/usr/bin:/bin", "HOME=" + root_.path(), "WINEPREFIX=" + machine(), "WINEDEBUG=-all",
            "WINEDLLOVERRIDES=mscoree,mshtml=", "LC_ALL=C.UTF-8"};
  }
  // A Windows program of this prefix, run to its end.
  RunResult Wine(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {Loader()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, Env(), work());
  }
  RunResult Tool(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {bin() + "/QZRRemote.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    return Wine(argv);
  }

 private:
  TempDir root_;
};

// A sandboxed Windows tool and a machine under Wine with a copy of
// `volume`, the module off unless `powered`.
struct WineRun {
  explicit WineRun(const std::string& volume = kExamples + "/volume", bool powered = false)
      : emu(volume, powered, box.machine(), MachineTools()) {}
  RunResult Commands(const std::string& file = kExamples + "/commands.xml") const {
    return box.Tool({WindowsPath(file)});
  }
  WineSandbox box;
  EmuMachine emu;
};

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// A POSIX machine with a copy of `volume` and the POSIX tool, for the
// reference run.
struct PosixRun {
  explicit PosixRun(const std::string& volume = kExamples + "/volume", bool powered = false)
      : emu(volume, powered, box.machine()) {}
  RunResult Commands() const { return box.Run({kExamples + "/commands.xml"}); }
  ToolSandbox box;
  EmuMachine emu;
};

// The Windows tool's run on the machine under Wine and the POSIX tool's on
// the POSIX machine ended alike, printed alike (but for line ends), asked
// the machines the same things in the same order and left the same volume.
void ExpectAlike(const RunResult& windows, const WineRun& run, const RunResult& unix, const PosixRun& posix) {
  EXPECT_EQ(windows.exit_code, unix.exit_code) << windows.err;
  EXPECT_EQ(WithoutCarriageReturns(windows.out), unix.out);
  EXPECT_EQ(run.emu.Log(), posix.emu.Log());
  EXPECT_EQ(Snapshot(run.emu.volume()), Snapshot(posix.emu.volume()));
}

class WineMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(WinBuild().empty()) << "KVX_WIN_BUILD names the 32-bit Windows build";
    ASSERT_FALSE(MachineTools().empty()) << "KVX_WINE_MACHINE names the machine's tools folder";
    // What runs here is the product, never a twin of another bitness.
    ASSERT_EQ(ImageMachine(WinBuild() + "/bin/QZRRemote.exe"), 0x14cu) << "QZRRemote.exe is not the 32-bit tool";
    ASSERT_FALSE(TemplatePrefix().empty()) << "no Wine prefix could be made";
  }
};

TEST_F(WineMachine, TheExampleCommandsRunTheWholeCycleAndWriteWhatThePosixToolWrites) {
  WineRun run;
  ASSERT_TRUE(run.emu.up());
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kParsed);
  EXPECT_EQ(WithoutTime(run.box.Log()), WindowsPath(kExamples + "/commands.xml") + ", " + kParsed + "\r\n");
  EXPECT_EQ(run.emu.Log(), MainRoadLog());
  const std::string state = run.emu.State();
  EXPECT_EQ(JsonValue(state, "power"), "off");
  EXPECT_EQ(JsonValue(state, "mounted"), "false");
  EXPECT_NE(state.find("\"drives\": {}"), std::string::npos);
  EXPECT_NE(state.find("Windows Hardware Insert.wav"), std::string::npos);  // sounds put back
  EXPECT_FALSE(fs::exists(run.box.machine() + "/dosdevices/~:"));

  // The same commands by the POSIX tool on a POSIX machine.
  PosixRun posix;
  ASSERT_TRUE(posix.emu.up());
  ExpectAlike(r, run, posix.Commands(), posix);
}

TEST_F(WineMachine, AModuleFoundOnIsAskedWhatThePosixToolAsks) {
  WineRun run(kExamples + "/volume", true);
  ASSERT_TRUE(run.emu.up());
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kParsed);
  EXPECT_TRUE(Starting(run.emu.Log(), "firmware: power on").empty());
  PosixRun posix(kExamples + "/volume", true);
  ASSERT_TRUE(posix.emu.up());
  ExpectAlike(r, run, posix.Commands(), posix);
}

TEST_F(WineMachine, TheCopyModeCopiesTheUserFolderWithProgressWatched) {
  WineRun run;
  ASSERT_TRUE(run.emu.up());
  const std::string backup = run.box.work() + "/backup";
  MakeDirs(backup);
  const std::string ready = run.box.work() + "/progress.ready";
  const pid_t progress = StartProgram({Loader(), WinBuild() + "/tools/kvxprogress.exe", "--ready", WindowsPath(ready)},
                                      run.box.Env(), run.box.work(), run.box.work() + "/progress.out");
  ASSERT_TRUE(WaitForFile(ready, 60));
  const RunResult r = run.box.Tool({"copyPersistentData", WindowsPath(backup)});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kParsed);
  EXPECT_EQ(WithoutTime(run.box.Log()), "copyPersistentData, " + kParsed + "\r\n");
  auto expected = Snapshot(kExamples + "/volume/QUARLE.000/user");
  expected.erase(".settings");  // hidden: not copied
  EXPECT_EQ(Snapshot(backup), expected);
  EXPECT_EQ(WaitProgram(progress), 0);
  const std::string shown = ReadFile(run.box.work() + "/progress.out");
  EXPECT_NE(shown.find("100%"), std::string::npos) << shown;
  EXPECT_EQ(Starting(run.emu.Log(), "firmware: power"),
            (std::vector<std::string>{"firmware: power on", "firmware: power off"}));

  PosixRun posix;
  ASSERT_TRUE(posix.emu.up());
  const std::string posix_backup = posix.box.work() + "/backup";
  MakeDirs(posix_backup);
  ExpectAlike(r, run, posix.box.Run({"copyPersistentData", posix_backup}), posix);
  EXPECT_EQ(Snapshot(posix_backup), Snapshot(backup));
}

TEST_F(WineMachine, AMissingServiceFailsTheRunAndLeavesTheModuleOff) {
  WineRun run;
  ASSERT_TRUE(run.emu.Set({"service=absent", "log=clear"}));
  const auto before = Snapshot(run.emu.volume());
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(Occurrences(r.out, "cannot open service.\r\n"), 10u);  // one per mount attempt
  EXPECT_EQ(r.out.substr(r.out.size() - kFailed.size()), kFailed);
  EXPECT_EQ(Starting(run.emu.Log(), "firmware: power"),
            (std::vector<std::string>{"firmware: power on", "firmware: power off"}));
  EXPECT_EQ(Snapshot(run.emu.volume()), before);
}

TEST_F(WineMachine, APausedOrStoppedServiceIsSentNothing) {
  WineRun run;
  for (const char* state : {"service=paused", "service=stopped"}) {
    ASSERT_TRUE(run.emu.Set({state, "log=clear"})) << state;
    const RunResult r = run.Commands();
    EXPECT_EQ(r.exit_code, 5) << state;
    EXPECT_EQ(r.out, kFailed) << state;
    EXPECT_TRUE(Starting(run.emu.Log(), "service: ").empty()) << state;
  }
}

// The 32-bit tool on a 64-bit Windows installs "kvxio_x64.sys" from its
// folder, and the driver runs in the 64-bit driver host whoever created its
// service. The copy action then copies the driver's file too, as it copies
// every file of the tool's folder but its own kinds: the POSIX tool's
// folder gets the same file for the reference run.
TEST_F(WineMachine, AMissingDriverFileIsInstalledFromTheToolsFolder) {
  WineRun run;
  const std::string driver = MachineTools() + "/kvxio_x64.sys";
  fs::copy_file(driver, run.box.bin() + "/kvxio_x64.sys");
  ASSERT_TRUE(run.emu.Set({"driver_file=missing", "log=clear"}));
  const RunResult r = run.Commands();
  EXPECT_EQ(r.out, kParsed);
  const RunResult config = run.box.Wine({MachineTools() + "/kvxwine.exe", "status", "KVXIO"});
  EXPECT_EQ(config.out.substr(0, 7), "running") << config.out << config.err;

  PosixRun posix;
  ASSERT_TRUE(posix.emu.up());
  fs::copy_file(driver, posix.box.bin() + "/kvxio_x64.sys");
  ExpectAlike(r, run, posix.Commands(), posix);
  EXPECT_EQ(ReadFile(run.emu.volume() + "/QUARLE.000/user/kvxio_x64.sys"), ReadFile(driver));
}

TEST_F(WineMachine, AUserListHeldFourSecondsIsGivenUp) {
  WineRun run;
  ASSERT_TRUE(run.emu.Set({"user_mutex_hold_ms=4000"}));
  const RunResult r = run.Commands();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const auto log = run.emu.Log();
  ASSERT_GT(log.size(), 8u);
  EXPECT_EQ(log[5], "service: holds the user list for 4000 ms");
  EXPECT_EQ(log[8], "service: export (no user list handed over yet)");  // the list was never written
}

TEST_F(WineMachine, MoreThanFortyAccountsAreCountedButFortyNamed) {
  TempDir volume;
  WineRun run(WriteManyAccountsVolume(volume.path(), 46));
  WriteFile(run.box.work() + "/delete.xml", "<remoteCmd><singleUser action='deleteUser' user='a45'/></remoteCmd>\n");
  const RunResult r = run.Commands(run.box.work() + "/delete.xml");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const auto exports = Starting(run.emu.Log(), "service: export: 45 accounts [a00, a01,");
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].substr(exports[0].size() - 9), "a38, a39]");
  EXPECT_FALSE(fs::exists(run.emu.volume() + "/QUARLE.000/a45/kvxaccount.ini"));
}

// The same knobs on a machine under Wine and on a POSIX machine, the example
// commands run by the Windows and by the POSIX tool: the two runs are alike.
class WineMachineLikePosix : public WineMachine, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(WineMachineLikePosix, TheWindowsToolDoesWhatThePosixToolDoes) {
  WineRun run;
  ASSERT_TRUE(run.emu.up());
  ASSERT_TRUE(run.emu.Set(GetParam()));
  PosixRun posix;
  ASSERT_TRUE(posix.emu.up());
  ASSERT_TRUE(posix.emu.Set(GetParam()));
  const RunResult windows = run.Commands();
  ExpectAlike(windows, run, posix.Commands(), posix);
  EXPECT_EQ(JsonValue(run.emu.State(), "power"), JsonValue(posix.emu.State(), "power"));
}

INSTANTIATE_TEST_SUITE_P(
    Knobs, WineMachineLikePosix,
    ::testing::Values(std::vector<std::string>{"mount_empty=on"}, std::vector<std::string>{"mounts_not_answering=1"},
                      std::vector<std::string>{"refuse=136,135"}, std::vector<std::string>{"power_off=fail"},
                      std::vector<std::string>{"mappings=missing"}, std::vector<std::string>{"status_byte=0"},
                      std::vector<std::string>{"status_result=-1"}, std::vector<std::string>{"calling_interface=fail"},
                      std::vector<std::string>{"reply_length=20"}, std::vector<std::string>{"power_on=fail"},
                      std::vector<std::string>{"refuse=134"}));


TEST_F(WineMachine, TheListingBeforeAndAfterTheExampleCommandsIsThePosixToolsListing) {
  WineRun run;
  ASSERT_TRUE(run.emu.up());
  PosixRun posix;
  ASSERT_TRUE(posix.emu.up());
  // The default account is the one whose file was written last; the two
  // copies of the volume were made at other moments, so both are given the
  // same, distinct times.
  const auto now = fs::file_time_type::clock::now();
  for (const std::string& volume : {run.emu.volume(), posix.emu.volume()}) {
    int step = 0;
    for (const char* account : {"User", "mary", "john"}) {
      fs::last_write_time(volume + "/QUARLE.000/" + std::string(account) + "/kvxaccount.ini",
                          now - std::chrono::hours(3) + std::chrono::minutes(++step));
    }
  }
  for (const char* when : {"before", "after"}) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"/list"},
                                                 std::vector<std::string>{"/list", "/json"}}) {
      const RunResult windows = run.box.Tool(args);
      const RunResult unix = posix.box.Run(args);
      EXPECT_EQ(windows.exit_code, 0) << when << windows.err;
      SCOPED_TRACE(std::string(when) + " " + args.back());
      ExpectAlike(windows, run, unix, posix);
    }
    if (std::string(when) == "before") {
      ASSERT_EQ(run.Commands().exit_code, 0);
      ASSERT_EQ(posix.Commands().exit_code, 0);
    }
  }
}

// Links on the volume that lead out of it: an account folder and an
// account file. The Windows tool reads and writes nothing through them and
// leaves the volume as the POSIX tool does.
TEST_F(WineMachine, LinksOutOfTheVolumeAreNeitherReadNorWrittenThrough) {
  TempDir outside;
  MakeDirs(outside / "john");
  const std::string john = "\xEF\xBB\xBF[john]\r\nPassword=outside-john\r\n";
  const std::string user = "\xEF\xBB\xBF[User]\r\nPassword=outside-user\r\n";
  ASSERT_TRUE(WriteFile(outside / "john/kvxaccount.ini", john));
  ASSERT_TRUE(WriteFile(outside / "user.ini", user));
  TempDir volume;
  fs::copy(kExamples + "/volume", volume.path(), fs::copy_options::recursive);
  fs::remove_all(volume / "QUARLE.000/john");
  fs::create_directory_symlink(outside / "john", volume / "QUARLE.000/john");
  fs::remove(volume / "QUARLE.000/User/kvxaccount.ini");
  fs::create_symlink(outside / "user.ini", volume / "QUARLE.000/User/kvxaccount.ini");

  WineRun run(volume.path());
  ASSERT_TRUE(run.emu.up());
  PosixRun posix(volume.path());
  ASSERT_TRUE(posix.emu.up());
  const RunResult windows = run.Commands();
  ExpectAlike(windows, run, posix.Commands(), posix);
  EXPECT_EQ(ReadFile(outside / "john/kvxaccount.ini"), john);
  EXPECT_EQ(ReadFile(outside / "user.ini"), user);
  EXPECT_EQ(ReadFile(run.emu.volume() + "/kvxaccounts.ini").find("outside-"), std::string::npos);
  // Nothing was made beside the outside account file.
  EXPECT_EQ(std::distance(fs::directory_iterator(outside / "john"), fs::directory_iterator()), 1);
}

TEST_F(WineMachine, AListingWithoutTheModuleEndsWithFive) {
  WineRun run;
  ASSERT_TRUE(run.emu.Set({"calling_interface=fail"}));
  const RunResult r = run.box.Tool({"/list", "/json"});
  EXPECT_EQ(r.exit_code, 5) << r.err;
  EXPECT_EQ(r.out, "The flash module could not be reached; nothing was listed.\r\n");
  EXPECT_EQ(WithoutTime(run.box.Log()), "/list, " + kFailed + "\r\n");
}

TEST_F(WineMachine, TheExportedFunctionsDriveTheEmulatedDriverFromAWindowsProgram) {
  WineRun run;
  ASSERT_TRUE(run.emu.up());
  ASSERT_TRUE(run.emu.Set({"log=clear"}));
  const RunResult r = run.box.Wine({WinBuild() + "/tests/hwio_machine_test.exe",
                                    WindowsPath(WinBuild() + "/lib/kvxhwio.dll")});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  const auto log = run.emu.Log();
  EXPECT_EQ(Starting(log, "driver: "),
            (std::vector<std::string>{"driver: drive Q -> \\Device\\Nothing", "driver: removed drive Q"}));
  EXPECT_EQ(Starting(log, "firmware: power"), (std::vector<std::string>{"firmware: power on"}));
}

}  // namespace
}  // namespace kvx
