// kvxemu as a user runs it: up and down, its state and knobs, and its end
// when the machine folder goes away.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/emu_wire.h"
#include "tests/emu_machine.h"
#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;
namespace fs = std::filesystem;

std::vector<std::string> Listing(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root)) names.push_back(fs::relative(e.path(), root));
  std::sort(names.begin(), names.end());
  return names;
}

RunResult Emu(const std::string& machine, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {KVX_EMU_PATH, "--prefix", machine};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, {"PATH=/usr/bin:/bin"}, machine);
}

TEST(Kvxemu, DownLeavesTheMachineFolderAsUpFoundIt) {
  TempDir dir;
  const std::string machine = dir / "machine";
  MakeDirs(machine + "/temp");
  WriteFile(machine + "/temp/keep.txt", "mine");
  const auto before = Listing(machine);
  RunResult up = Emu(machine, {"up", "--volume", KVX_SOURCE_DIR "/examples/volume", "--power", "on"});
  ASSERT_EQ(up.exit_code, 0) << up.err;
  EXPECT_NE(up.out.find("module on"), std::string::npos);
  EXPECT_EQ(Emu(machine, {"up"}).exit_code, 1);  // one machine per folder
  EXPECT_TRUE(fs::exists(machine + "/firmware/dmi/tables/DMI"));
  EXPECT_TRUE(fs::exists(machine + "/emu/volume/quarle.idx"));  // a copy
  const RunResult state = Emu(machine, {"ctl", "state"});
  EXPECT_EQ(JsonValue(state.out, "power"), "on");
  EXPECT_EQ(JsonValue(state.out, "volume"), machine + "/emu/volume");
  ASSERT_EQ(Emu(machine, {"down"}).exit_code, 0);
  EXPECT_EQ(Listing(machine), before);
  EXPECT_EQ(Emu(machine, {"down"}).exit_code, 1);  // not running
  EXPECT_EQ(Emu(machine, {"ctl", "state"}).exit_code, 1);
}

TEST(Kvxemu, AVolumeUsedInPlaceIsChangedInPlace) {
  TempDir dir;
  fs::copy(KVX_SOURCE_DIR "/examples/volume", dir / "volume", fs::copy_options::recursive);
  EmuMachine emu;
  ASSERT_TRUE(emu.Emu({"down"}) == 0);
  ASSERT_EQ(emu.Emu({"up", "--volume", dir / "volume", "--in-place"}), 0);
  EXPECT_EQ(JsonValue(emu.State(), "volume"), dir / "volume");
}

TEST(Kvxemu, KnobsAreCheckedAndShownInTheState) {
  EmuMachine emu;
  ASSERT_TRUE(emu.up());
  EXPECT_TRUE(emu.Set({"status_byte=0x30", "refuse=134,136", "service=paused", "mounts_not_answering=2"}));
  const std::string state = emu.State();
  EXPECT_EQ(JsonValue(state, "status_byte"), "48");
  EXPECT_NE(state.find("\"refuse\": [134, 136]"), std::string::npos);
  EXPECT_NE(state.find("\"KvxMDES\": {\"state\": \"paused\""), std::string::npos);
  EXPECT_EQ(JsonValue(state, "mounts_not_answering"), "2");
  EXPECT_EQ(emu.Emu({"ctl", "set", "no_such_knob=1"}), 2);
  EXPECT_EQ(emu.Emu({"ctl", "set", "power=maybe"}), 2);
  EXPECT_EQ(emu.Emu({"ctl", "set", "refuse=12"}), 2);  // not a user-defined code
  EXPECT_EQ(emu.Emu({"ctl", "set", "missing-equals"}), 2);
  EXPECT_EQ(emu.Emu({"bogus"}), 2);
  std::string help;
  EXPECT_EQ(emu.Emu({"--help"}, &help), 0);
  EXPECT_NE(help.find("ctl set KNOB=VALUE"), std::string::npos);
}

// A connection kept for the next caller is taken only while its emulator
// still answers: after a down and an up, the next call reaches the new one.
TEST(Kvxemu, AKeptConnectionIsNotTakenOnceItsEmulatorIsGone) {
  TempDir dir;
  const std::string machine = dir / "machine";
  MakeDirs(machine);
  ASSERT_EQ(Emu(machine, {"up", "--power", "off"}).exit_code, 0);
  EXPECT_EQ(EmuConnection::Connect(machine)->Call({"ctl.state"})[0], "ok");
  ASSERT_EQ(Emu(machine, {"down"}).exit_code, 0);
  EXPECT_EQ(EmuConnection::Connect(machine), nullptr);
  ASSERT_EQ(Emu(machine, {"up", "--power", "on"}).exit_code, 0);
  std::unique_ptr<EmuConnection> again = EmuConnection::Connect(machine);
  ASSERT_NE(again, nullptr);
  const Fields state = again->Call({"ctl.state"});
  ASSERT_EQ(state.size(), 2u);
  EXPECT_NE(state[1].find("\"power\": \"on\""), std::string::npos) << state[1];
  again.reset();
  Emu(machine, {"down"});
}

TEST(Kvxemu, AMachineWhoseFolderGoesAwayStops) {
  TempDir dir;
  const std::string machine = dir / "gone";
  MakeDirs(machine);
  ASSERT_EQ(Emu(machine, {"up"}).exit_code, 0);
  pid_t pid = 0;
  std::ifstream(machine + "/emu/kvxemu.pid") >> pid;
  ASSERT_GT(pid, 0);
  RemoveTree(machine);
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    ended = !std::getline(stat, line) || line.find(") Z") != std::string::npos;
    if (!ended) usleep(10000);
  }
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace kvx
