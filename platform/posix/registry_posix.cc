#include "platform/posix/registry_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/text.h"
#include "core/utf.h"

namespace kvx {

namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char n = s[++i];
      out += n == 't' ? '\t' : n == 'n' ? '\n' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Holds the registry's lock for the life of the object.
class RegistryLock {
 public:
  explicit RegistryLock(const std::string& machine) {
    mkdir((machine + "/registry").c_str(), 0755);
    fd_ = open((machine + "/registry/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~RegistryLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Lower-cased key to the key as first written and its value.
std::map<std::string, std::pair<std::string, std::string>> Parse(const std::string& path) {
  std::map<std::string, std::pair<std::string, std::string>> keys;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = Unescape(line.substr(0, tab));
    keys[ToLowerAscii(key)] = {key, Unescape(line.substr(tab + 1))};
  }
  return keys;
}

}  // namespace

std::map<std::string, std::string> PosixRegistry::ReadAll() {
  RegistryLock lock(machine_);
  std::map<std::string, std::string> out;
  for (const auto& [lower, entry] : Parse(machine_ + "/" + kFile)) out[lower] = entry.second;
  return out;
}

bool PosixRegistry::ReadDefaultValue(const std::string& key, size_t max_units, std::string& out) {
  const std::map<std::string, std::string> keys = ReadAll();
  const auto it = keys.find(ToLowerAscii(key));
  if (it == keys.end()) return false;
  // The value with its terminator must fit the caller's buffer.
  if (Utf16Length(it->second) + 1 > max_units) return false;
  const size_t nul = it->second.find('\0');
  out = nul == std::string::npos ? it->second : it->second.substr(0, nul);
  return true;
}

bool PosixRegistry::WriteDefaultValue(const std::string& key, const std::string& value) {
  RegistryLock lock(machine_);
  if (!lock.ok()) return false;
  const std::string path = machine_ + "/" + kFile;
  auto keys = Parse(path);
  auto& entry = keys[ToLowerAscii(key)];
  if (entry.first.empty()) entry.first = key;  // keys keep their first spelling
  entry.second = value;
  std::ostringstream text;
  for (const auto& [lower, e] : keys) text << Escape(e.first) << '\t' << Escape(e.second) << '\n';
  // Made new beside the file (a leftover of a writer that was stopped goes
  // first; a link there is removed, never followed) and renamed over it.
  const std::string temp = path + ".new";
  unlink(temp.c_str());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::string bytes = text.str();
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (close(fd) != 0 || !written || std::rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace kvx
