#pragma once
// Helpers of the tests of the Windows platform layer, run under Wine.
#include <string>
#include <vector>

namespace kvx {

// A path of the build machine as the program sees it: a POSIX path
// ("/work/x") is on Wine's drive Z:, a Windows path stays as it is.
std::string BuildPath(const char* path);

struct ChildResult {
  bool started = false;
  unsigned long exit_code = 0;
};

// Runs `program` with `args` (each quoted as one argument) and waits at
// most `wait_ms` for it; a child still running then is ended.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     unsigned long wait_ms);

// A program started by a test, ended when the object ends if it still
// runs. With `output` its standard output goes to that file.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& output = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool started() const { return process_ != nullptr; }
  unsigned long pid() const { return pid_; }
  // Waits at most `wait_ms` for the end; false when it did not end.
  bool Wait(unsigned long wait_ms, unsigned long* exit_code = nullptr);
  // Ends the child at once, as a crash would.
  void Kill();

 protected:
  void* process_ = nullptr;
  unsigned long pid_ = 0;
};

// A child of this test program that runs only the test `filter` with the
// environment variable KVX_CHILD_ROLE set to `role`: the way a test gets a
// second process with a part of its own.
class ChildTest : public ChildProcess {
 public:
  ChildTest(const std::string& filter, const std::string& role);
};

// The role this process was started for by ChildTest; empty in the parent.
std::string ChildRole();

}  // namespace kvx
