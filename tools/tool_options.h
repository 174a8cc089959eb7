#pragma once
// What the companion tools do the same on every platform: their command
// lines and the way they show what they receive. The platform parts (the
// debugger channel, the named objects, signals) stay in each tool's own
// file.
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The options part of each tool's usage text, the same on every platform
// (a literal, so that each tool joins it to its own text).
#define KVX_DBGVIEW_OPTIONS_USAGE                                             \
  "  --ready FILE   create FILE once the viewer is listening, so that a\n"    \
  "                 script can wait for it before starting what it watches\n" \
  "  --output FILE  write the messages to FILE instead of standard output\n"  \
  "  --help         show this text\n"
#define KVX_PROGRESS_OPTIONS_USAGE                                              \
  "  --ready FILE  create FILE once the mapping exists, so that a script can\n" \
  "                start the copy after it\n"                                   \
  "  --pid PID     watch the process PID instead of the tool's run\n"           \
  "  --help        show this text\n"

namespace kvx {

enum class ToolArguments { kRun, kHelp, kBad };

// kvxdbgview [--ready FILE] [--output FILE] [--help]
struct DbgviewOptions {
  std::string ready;   // created once the viewer listens
  std::string output;  // the messages go here instead of standard output
};
// `args` without the program name; `bad` names an argument not understood.
ToolArguments ParseDbgviewArguments(const std::vector<std::string>& args, DbgviewOptions& out,
                                    std::string& bad);

// kvxprogress [--ready FILE] [--pid PID] [--help]
struct ProgressOptions {
  std::string ready;  // created once the mapping exists
  long pid = 0;       // the process watched instead of the tool's run
};
ToolArguments ParseProgressArguments(const std::vector<std::string>& args, ProgressOptions& out,
                                     std::string& bad);

// What the tool does with the outcome of its command line: prints the
// usage (help) or the complaint and the usage (bad arguments, exit code
// `bad_exit`). -1 when the tool goes on to run, else its exit code.
int ArgumentsOutcome(ToolArguments outcome, const char* tool, const char* usage,
                     const std::string& bad, int bad_exit);

// One debugger message on a line of its own: a line end at its end is
// dropped and one line feed written; flushed at once.
void PrintDebugMessage(std::FILE* out, const char* data, size_t size);

// The decimal digits at the start of the progress view, as UTF-16LE
// characters; -1 when there are none yet.
int ReadPercentage(const unsigned char* view, size_t size);

// The percentage as a bar on a terminal, a line per change otherwise.
void ShowPercentage(int percent, bool terminal);

// The platform's parts of watching the progress view.
struct ProgressWatch {
  std::function<bool()> stopped;    // interrupted
  std::function<bool()> run_ended;  // the watched run has ended
  std::function<void()> pause;      // a short wait between two looks
};

// Shows each new percentage of the view until it reaches 100 (0), or the
// run ends (1; one more look is taken, since the last chunk may have
// landed as it ended), or the watch is stopped (1).
int WatchProgress(const unsigned char* view, size_t size, bool terminal,
                  const ProgressWatch& watch);

}  // namespace kvx
