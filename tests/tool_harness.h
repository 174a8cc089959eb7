#pragma once
// Runs the built programs as a user runs them: in a sandbox of their own
// (the tool's folder, a machine folder, a working folder), with a clean
// environment, and with the debugger output read through kvxdbgview.
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/temp_dir.h"

namespace kvx::testing {

struct RunResult {
  int exit_code = -1;  // -1 when the program did not end normally
  std::string out;
  std::string err;
};

struct RunOptions {
  std::vector<std::string> env;  // "NAME=value", added to PATH and KVXPREFIX
  std::string cwd;               // the sandbox's working folder when empty
  std::string path;              // PATH; "/usr/bin:/bin" when empty
  // Run as this user and groups (through setpriv); only for root.
  bool as_other_user = false;
  unsigned uid = 65534, gid = 65534;
  std::vector<unsigned> groups;
};

// Whether programs can be run as another user here (root, with setpriv).
bool CanRunAsOtherUser();

// Starts `argv` and returns its pid, without waiting.
pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& cwd, const std::string& out_file);
// Waits for a started program; its exit code, or -1.
int WaitProgram(pid_t pid);

// Runs `argv` to its end and collects what it printed.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& cwd);

// Waits until `path` exists, at most `seconds`.
bool WaitForFile(const std::string& path, int seconds);

// kvxdbgview attached to a machine folder.
class DebugViewer {
 public:
  explicit DebugViewer(const std::string& machine_folder);
  ~DebugViewer();
  // Stops the viewer (after it has read all that was sent) and returns the
  // lines it printed.
  std::vector<std::string> Stop();
  // The lines printed so far.
  std::vector<std::string> Lines() const;
  // Waits until a line equal to `line` was printed, at most `seconds`.
  bool WaitForLine(const std::string& line, int seconds) const;

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

// A tool's folder with copies of QZRRemote and its schema, a machine folder
// and a working folder, all below one temp folder.
class ToolSandbox {
 public:
  ToolSandbox();
  std::string bin() const { return root_ / "bin"; }
  std::string machine() const { return root_ / "machine"; }
  std::string work() const { return root_ / "work"; }
  std::string tool() const { return bin() + "/QZRRemote"; }
  std::string log_path() const { return bin() + "/QZRRemote.log"; }
  std::string Log() const { return ReadFile(log_path()); }
  // The environment of a run: PATH, KVXPREFIX and `extra`.
  std::vector<std::string> Env(const RunOptions& options) const;
  RunResult Run(const std::vector<std::string>& args, const RunOptions& options = {}) const;
  // The command line of a run of the tool, through setpriv for another user.
  std::vector<std::string> CommandLine(const std::vector<std::string>& args,
                                       const RunOptions& options) const;

 private:
  TempDir root_;
};

}  // namespace kvx::testing
