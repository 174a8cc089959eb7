#include "platform/posix/named_objects_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>

namespace kvx {

namespace {

class PosixView : public MappingView {
 public:
  PosixView(void* data, size_t size) : data_(static_cast<unsigned char*>(data)), size_(size) {}
  ~PosixView() override { munmap(data_, size_); }
  unsigned char* data() override { return data_; }
  size_t size() const override { return size_; }

 private:
  unsigned char* data_;
  size_t size_;
};

class PosixMapping : public NamedMapping {
 public:
  explicit PosixMapping(int fd) : fd_(fd) {}
  ~PosixMapping() override { close(fd_); }
  std::unique_ptr<MappingView> MapView(size_t size) override {
    struct stat st;
    if (size == 0 || fstat(fd_, &st) != 0 || static_cast<size_t>(st.st_size) < size) return nullptr;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) return nullptr;
    return std::make_unique<PosixView>(p, size);
  }

 private:
  int fd_;
};

// Ownership is an exclusive lock on a second file, taken through this
// handle's own open file, so that two handles contend even in one process
// and a holder's end (a crash included) gives the mutex up.
class PosixNamedMutex : public NamedMutex {
 public:
  PosixNamedMutex(int fd, std::string owner_path) : fd_(fd), owner_path_(std::move(owner_path)) {}
  ~PosixNamedMutex() override {
    if (owner_ >= 0) close(owner_);
    close(fd_);
  }
  WaitResult Wait(uint32_t timeout_ms) override {
    if (owned_) return WaitResult::kOwned;
    if (owner_ < 0) owner_ = OpenOwnerFile();
    if (owner_ < 0) return WaitResult::kFailed;
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (useconds_t pause = 200;; pause = pause < 5000 ? pause * 2 : pause) {
      if (flock(owner_, LOCK_EX | LOCK_NB) == 0) {
        owned_ = true;
        return WaitResult::kOwned;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) return WaitResult::kFailed;
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      const int64_t elapsed_ms =
          (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
      if (elapsed_ms >= timeout_ms) return WaitResult::kTimedOut;
      usleep(pause);
    }
  }
  bool Release() override {
    if (!owned_) return false;
    owned_ = false;
    return flock(owner_, LOCK_UN) == 0;
  }

 private:
  int OpenOwnerFile() {
    const int fd = open(owner_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) fchmod(fd, 0666);
    return fd;
  }
  int fd_;
  std::string owner_path_;
  int owner_ = -1;
  bool owned_ = false;
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

namespace {

// Whether any process (this one included) holds the object file `path`.
bool Held(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return !free;
}

// Takes a share of the object file `path` under the creators' lock. With
// `create` the file is made when missing (and, when no one else holds it,
// `prepare` runs on it before the share is taken); without, an object no
// one holds does not exist. Named objects of every kind share one
// namespace: while an object of the other kind (`rival`, its file) holds
// the name, there is no object of this kind to create or open. -1 when
// there is no object to share.
template <typename Prepare>
int TakeShare(const std::string& folder, const std::string& path, const std::string& rival,
              bool create, bool* existed, Prepare prepare) {
  // One lock serialises creators, so that the probe for other holders and
  // the taking of this holder's share are one step for every other process.
  const int guard = OpenShared(folder + "/.objects.lock");
  if (guard < 0) return -1;
  if (flock(guard, LOCK_EX) != 0) {
    close(guard);
    return -1;
  }
  int fd = Held(rival) ? -1 : create ? OpenShared(path) : open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    const bool alone = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if ((!alone || create) && (alone ? prepare(fd) : true) && flock(fd, LOCK_SH) == 0) {
      if (existed) *existed = !alone;
    } else {
      close(fd);
      fd = -1;
    }
  }
  flock(guard, LOCK_UN);
  close(guard);
  return fd;
}

}  // namespace

std::unique_ptr<NamedMutex> PosixNamedObjects::CreateMutex(const std::string& name,
                                                           bool* already_existed) {
  const std::string base = folder_ + "/" + ObjectFileName(name);
  const int fd = TakeShare(folder_, base + ".mutex", base + ".mapping", true, already_existed,
                           [](int) { return true; });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixNamedMutex>(fd, base + ".owner");
}

std::unique_ptr<NamedMutex> PosixNamedObjects::OpenMutex(const std::string& name) {
  const std::string base = folder_ + "/" + ObjectFileName(name);
  const int fd = TakeShare(folder_, base + ".mutex", base + ".mapping", false, nullptr,
                           [](int) { return true; });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixNamedMutex>(fd, base + ".owner");
}

std::unique_ptr<NamedMapping> PosixNamedObjects::CreateFileMapping(const std::string& name,
                                                                   size_t size,
                                                                   bool* already_existed) {
  const std::string base = folder_ + "/" + ObjectFileName(name);
  const int fd = TakeShare(folder_, base + ".mapping", base + ".mutex", true, already_existed,
                           [size](int f) {
                             // A new mapping starts zero-filled at its size.
                             return ftruncate(f, 0) == 0 &&
                                    ftruncate(f, static_cast<off_t>(size)) == 0;
                           });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixMapping>(fd);
}

std::unique_ptr<NamedMapping> PosixNamedObjects::OpenFileMapping(const std::string& name) {
  const std::string base = folder_ + "/" + ObjectFileName(name);
  const int fd = TakeShare(folder_, base + ".mapping", base + ".mutex", false, nullptr,
                           [](int) { return true; });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixMapping>(fd);
}

bool PosixNamedObjects::MutexHeld(const std::string& name) {
  return Held(folder_ + "/" + ObjectFileName(name) + ".mutex");
}

}  // namespace kvx
