#include "app/log_file.h"

#include <cstring>
#include <ctime>

#include "core/format.h"

namespace kvx {

namespace {

constexpr size_t kLineBuffer = 1024;  // text, line feed and terminator

// The length of `text` cut to at most `limit` bytes; in UTF-8 the cut falls
// between characters.
size_t CutLength(const std::string& text, size_t limit, bool utf8) {
  if (text.size() <= limit) return text.size();
  size_t n = limit;
  if (utf8)
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

std::string HistoryLogPath(const std::string& module_path) {
  if (module_path.empty()) return "c:\\QZRRemote.log";
  const size_t slash = module_path.rfind('\\');
  const std::string folder = slash == std::string::npos ? "" : module_path.substr(0, slash);
  if (!folder.empty() && folder.back() == '\\') return folder + "QZRRemote.log";
  return folder + "\\QZRRemote.log";
}

LogFile::LogFile(const Deps& deps) : deps_(deps), path_(HistoryLogPath(deps.process.ModuleFileName())) {
  // Emptied, then written only at its end: runs on several PCs that share
  // the tool's folder each add a whole line, where writing in place from
  // the start would lay a short line over the head of a long one.
  if (deps_.files.Open(path_, "w", nullptr)) file_ = deps_.files.Open(path_, "a", nullptr);
  if (!file_) deps_.console.Write("The file 'LOGFILE' was not opened\n");
}

void LogFile::WriteHistoryLine(int result_code, const std::string& file_text) {
  std::string time_text;
  std::tm now;
  if (deps_.clock.LocalNow(now)) {
    char buf[128];
    const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &now);
    time_text.assign(buf, n);
  }
  const std::string message =
      result_code >= 0 && result_code <= 5 ? deps_.strings.Load(102 + result_code) : "";
  const std::string line = time_text + ", " + file_text + ", " + message;

  std::lock_guard<std::mutex> guard(lock_);
  const std::string narrow = deps_.ansi.FromUtf8(line);
  char buffer[kLineBuffer];
  const size_t n = CutLength(narrow, kLineBuffer - 2, deps_.ansi.IsUtf8());
  std::memcpy(buffer, narrow.data(), n);
  buffer[n] = '\n';
  const std::string_view text(buffer, n + 1);
  deps_.debug.Write(text);
  if (file_) {
    file_->Write(text.data(), text.size());
    file_->Flush();
  }
}

}  // namespace kvx
