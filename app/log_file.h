#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "platform/ansi_text.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/debug_output.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/string_resources.h"

namespace kvx {

// The history log: "QZRRemote.log" beside the executable, truncated when
// the object is created (once per start of the program), one line per run,
// added at the file's end in one write, so that runs sharing the file (the
// tool on a network share) never tear each other's lines.
class LogFile {
 public:
  struct Deps {
    Process& process;
    FileSystem& files;
    Console& console;
    DebugOutput& debug;
    StringResources& strings;
    AnsiText& ansi;
    Clock& clock;
  };

  // Opens the log; when it cannot be opened, says so on standard output
  // and goes on without a file.
  explicit LogFile(const Deps& deps);

  // Writes "time, file, message" plus a line feed, in the locale's narrow
  // text and cut to 1022 bytes of text, to the debugger output and the log.
  void WriteHistoryLine(int result_code, const std::string& file_text);

  const std::string& path() const { return path_; }

 private:
  Deps deps_;
  std::string path_;
  std::mutex lock_;
  std::unique_ptr<File> file_;
};

// The log's path for an executable path in Windows form.
std::string HistoryLogPath(const std::string& module_path);

}  // namespace kvx
