#include "tests/emu_machine.h"

#include <cstdio>

#include "tests/tool_harness.h"

namespace kvx::testing {

EmuMachine::EmuMachine(const std::string& volume, bool powered, const std::string& machine,
                       const std::string& wine_tools)
    : machine_(machine.empty() ? own_ / "machine" : machine) {
  MakeDirs(machine_);
  std::vector<std::string> args = {"up", "--power", powered ? "on" : "off"};
  if (!wine_tools.empty()) {
    args.push_back("--wine");
    args.push_back(wine_tools);
  }
  if (!volume.empty()) {
    args.push_back("--volume");
    args.push_back(volume);
  }
  up_ = Emu(args) == 0;
}

EmuMachine::~EmuMachine() { Down(); }

void EmuMachine::Down() {
  if (up_) Emu({"down"});
  up_ = false;
}

int EmuMachine::Emu(const std::vector<std::string>& args, std::string* out) const {
  std::vector<std::string> argv = {KVX_EMU_PATH, "--prefix", machine_};
  argv.insert(argv.end(), args.begin(), args.end());
  const RunResult r = RunProgram(argv, {"PATH=/usr/bin:/bin"}, machine_);
  if (out) *out = r.out;
  return r.exit_code;
}

bool EmuMachine::Set(const std::vector<std::string>& knobs) const {
  std::vector<std::string> args = {"ctl", "set"};
  args.insert(args.end(), knobs.begin(), knobs.end());
  return Emu(args) == 0;
}

std::string EmuMachine::State() const {
  std::string out;
  Emu({"ctl", "state"}, &out);
  return out;
}

std::vector<std::string> EmuMachine::Log() const {
  const std::string json = State();
  std::vector<std::string> entries;
  size_t at = json.find("\"log\": [");
  if (at == std::string::npos) return entries;
  at += 8;
  while (true) {
    const size_t open = json.find('"', at);
    const size_t end = json.find(']', at);
    if (open == std::string::npos || (end != std::string::npos && end < open)) break;
    std::string entry;
    size_t i = open + 1;
    for (; i < json.size() && json[i] != '"'; ++i) {
      if (json[i] == '\\' && i + 1 < json.size()) ++i;
      entry += json[i];
    }
    entries.push_back(entry);
    at = i + 1;
  }
  return entries;
}

std::string WriteManyAccountsVolume(const std::string& root, int n) {
  MakeDirs(root + "/QUARLE.000");
  WriteFile(root + "/quarle.idx", "QUARLE 1.0\r\n/QUARLE.SYS\r\n/QUARLE.000\r\n");
  for (int i = 0; i < n; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "a%02d", i);
    MakeDirs(root + "/QUARLE.000/" + name);
    WriteFile(root + "/QUARLE.000/" + name + "/kvxaccount.ini",
              "\xEF\xBB\xBF[" + std::string(name) + "]\r\nFirstTime=1\r\n");
  }
  return root;
}

std::string JsonValue(const std::string& json, const std::string& key) {
  const std::string probe = "\"" + key + "\": ";
  size_t at = json.find(probe);
  if (at == std::string::npos) return "";
  at += probe.size();
  if (json[at] == '"') {
    const size_t end = json.find('"', at + 1);
    return json.substr(at + 1, end - at - 1);
  }
  const size_t end = json.find_first_of(",}\n", at);
  return json.substr(at, end - at);
}

}  // namespace kvx::testing
