#include "tests/emu_machine.h"

#include <cstdio>
#include <filesystem>

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

std::map<std::string, std::string> Snapshot(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = ReadFile(e.path().string());
  return files;
}

std::string WithoutTime(const std::string& log) {
  const size_t comma = log.find(", ");
  return comma == std::string::npos ? "no time stamp: " + log : log.substr(comma + 2);
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<std::string> Starting(const std::vector<std::string>& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& e : log)
    if (e.rfind(prefix, 0) == 0) out.push_back(e);
  return out;
}

const std::vector<std::string>& MainRoadLog() {
  static const std::string device = "\\Device\\KvxFlashVolume1";
  static const std::vector<std::string> log = {
      "firmware: status 0x18",
      "firmware: power on",
      "service: mount -> " + device,
      "driver: drive ~ -> " + device,
      "service: unlock",
      "service: export (no user list handed over yet)",
      "service: export (no user list handed over yet)",
      "service: export: 2 accounts [john, User]",
      "service: unmount",
      "firmware: status 0x38",
      "driver: removed drive ~",
      "firmware: power off"};
  return log;
}

}  // namespace kvx::testing
