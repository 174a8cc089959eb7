#include "tools/tool_options.h"

#include <cstdlib>

namespace kvx {

ToolArguments ParseDbgviewArguments(const std::vector<std::string>& args, DbgviewOptions& out,
                                    std::string& bad) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return ToolArguments::kHelp;
    if ((arg == "--ready" || arg == "--output") && i + 1 < args.size()) {
      (arg == "--ready" ? out.ready : out.output) = args[++i];
    } else {
      bad = arg;
      return ToolArguments::kBad;
    }
  }
  return ToolArguments::kRun;
}

ToolArguments ParseProgressArguments(const std::vector<std::string>& args, ProgressOptions& out,
                                     std::string& bad) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return ToolArguments::kHelp;
    if (arg == "--ready" && i + 1 < args.size()) {
      out.ready = args[++i];
    } else if (arg == "--pid" && i + 1 < args.size()) {
      out.pid = std::strtol(args[++i].c_str(), nullptr, 10);
    } else {
      bad = arg;
      return ToolArguments::kBad;
    }
  }
  return ToolArguments::kRun;
}

int ArgumentsOutcome(ToolArguments outcome, const char* tool, const char* usage,
                     const std::string& bad, int bad_exit) {
  switch (outcome) {
    case ToolArguments::kHelp:
      std::fputs(usage, stdout);
      return 0;
    case ToolArguments::kBad:
      std::fprintf(stderr, "%s: unknown argument '%s'\n\n%s", tool, bad.c_str(), usage);
      return bad_exit;
    case ToolArguments::kRun:
      break;
  }
  return -1;
}

void PrintDebugMessage(std::FILE* out, const char* data, size_t size) {
  if (size > 0 && data[size - 1] == '\n') --size;
  std::fwrite(data, 1, size, out);
  std::fputc('\n', out);
  std::fflush(out);
}

int ReadPercentage(const unsigned char* view, size_t size) {
  int value = -1;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const unsigned unit = view[i] | (view[i + 1] << 8);
    if (unit < '0' || unit > '9') break;
    value = (value < 0 ? 0 : value * 10) + static_cast<int>(unit - '0');
    if (value > 1000) break;
  }
  return value;
}

void ShowPercentage(int percent, bool terminal) {
  if (terminal) {
    const int filled = percent >= 100 ? 40 : percent * 40 / 100;
    std::printf("\rCopying persistent data [%s%s] %3d%%", std::string(filled, '#').c_str(),
                std::string(40 - filled, '.').c_str(), percent);
  } else {
    std::printf("%d%%\n", percent);
  }
  std::fflush(stdout);
}

int WatchProgress(const unsigned char* view, size_t size, bool terminal,
                  const ProgressWatch& watch) {
  int shown = -1;
  int result = 1;
  while (!watch.stopped()) {
    const int percent = ReadPercentage(view, size);
    if (percent >= 0 && percent != shown) {
      ShowPercentage(percent, terminal);
      shown = percent;
    }
    if (percent >= 100) {
      result = 0;
      break;
    }
    if (watch.run_ended()) {
      const int last = ReadPercentage(view, size);
      if (last != shown && last >= 0) ShowPercentage(last, terminal);
      if (last >= 100) result = 0;
      break;
    }
    watch.pause();
  }
  if (terminal && shown >= 0) std::printf("\n");
  return result;
}

}  // namespace kvx
