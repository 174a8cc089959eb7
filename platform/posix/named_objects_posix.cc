#include "platform/posix/named_objects_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

namespace kvx {

namespace {

class PosixNamedMutex : public NamedMutex {
 public:
  explicit PosixNamedMutex(int fd) : fd_(fd) {}
  ~PosixNamedMutex() override { close(fd_); }

 private:
  int fd_;
};

int OpenShared(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0) fchmod(fd, 0666);  // every user of the machine opens it
  return fd;
}

}  // namespace

std::string ObjectFileName(const std::string& name) {
  std::string rest = name;
  for (const char* prefix : {"Global\\", "Local\\"}) {
    const std::string p = prefix;
    if (rest.compare(0, p.size(), p) == 0) {
      rest = rest.substr(p.size());
      break;
    }
  }
  std::string out;
  for (unsigned char c : rest) {
    if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

PosixNamedObjects::PosixNamedObjects(std::string objects_folder)
    : folder_(std::move(objects_folder)) {}

std::unique_ptr<NamedMutex> PosixNamedObjects::CreateMutex(const std::string& name,
                                                           bool* already_existed) {
  // One lock serialises creators, so that the probe for other holders and
  // the taking of this holder's share are one step for every other process.
  const int guard = OpenShared(folder_ + "/.objects.lock");
  if (guard < 0) return nullptr;
  if (flock(guard, LOCK_EX) != 0) {
    close(guard);
    return nullptr;
  }
  const int fd = OpenShared(folder_ + "/" + ObjectFileName(name) + ".mutex");
  std::unique_ptr<NamedMutex> mutex;
  if (fd >= 0) {
    const bool alone = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (flock(fd, LOCK_SH) == 0) {
      if (already_existed) *already_existed = !alone;
      mutex = std::make_unique<PosixNamedMutex>(fd);
    } else {
      close(fd);
    }
  }
  flock(guard, LOCK_UN);
  close(guard);
  return mutex;
}

}  // namespace kvx
