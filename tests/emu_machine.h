#pragma once
// kvxemu brought up for one test in a machine folder of its own, and
// stopped (down) when the test ends.
#include <map>
#include <string>
#include <vector>

#include "tests/temp_dir.h"

namespace kvx::testing {

class EmuMachine {
 public:
  // Up in `machine` (a new temp folder when empty) with a copy of `volume`
  // (an empty volume when empty) and the module powered on or off; with
  // `wine_tools`, under Wine (kvxemu up --wine), the machine folder being
  // the prefix.
  explicit EmuMachine(const std::string& volume = "", bool powered = false,
                      const std::string& machine = "", const std::string& wine_tools = "");
  ~EmuMachine();
  EmuMachine(const EmuMachine&) = delete;
  EmuMachine& operator=(const EmuMachine&) = delete;

  bool up() const { return up_; }
  const std::string& machine() const { return machine_; }
  std::string volume() const { return machine_ + "/emu/volume"; }
  // `kvxemu ctl set` with each "KNOB=VALUE"; false when refused.
  bool Set(const std::vector<std::string>& knobs) const;
  // `kvxemu ctl state`.
  std::string State() const;
  // The entries of the state's log, in order.
  std::vector<std::string> Log() const;
  // Runs kvxemu with `args` for this machine; its exit code.
  int Emu(const std::vector<std::string>& args, std::string* out = nullptr) const;
  // Stops the machine now.
  void Down();

 private:
  TempDir own_;
  std::string machine_;
  bool up_ = false;
};

// Writes a flash volume of `n` accounts named a00, a01, ... (each used
// once) below `root`; returns `root`.
std::string WriteManyAccountsVolume(const std::string& root, int n);

// The value of a "key": "value" or "key": number pair in JSON text (the
// first one), without quotes; empty when absent.
std::string JsonValue(const std::string& json, const std::string& key);

// Every regular file below `root` by its relative path, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& root);

// A history log's text after its time stamp ("DATE TIME, ").
std::string WithoutTime(const std::string& log);

// How often `part` occurs in `text`.
size_t Occurrences(const std::string& text, const std::string& part);

// The entries of a machine's log that start with `prefix`, in order.
std::vector<std::string> Starting(const std::vector<std::string>& log, const std::string& prefix);

// The machine's log of a run of examples/commands.xml on examples/volume
// with the module off, in order.
const std::vector<std::string>& MainRoadLog();

}  // namespace kvx::testing
