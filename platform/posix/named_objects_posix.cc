#include "platform/posix/named_objects_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

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

namespace {

// Takes a share of the object file `path` under the creators' lock. With
// `create` the file is made when missing (and, when no one else holds it,
// `prepare` runs on it before the share is taken); without, an object no
// one holds does not exist. -1 when there is no object to share.
template <typename Prepare>
int TakeShare(const std::string& folder, const std::string& path, bool create, bool* existed,
              Prepare prepare) {
  // One lock serialises creators, so that the probe for other holders and
  // the taking of this holder's share are one step for every other process.
  const int guard = OpenShared(folder + "/.objects.lock");
  if (guard < 0) return -1;
  if (flock(guard, LOCK_EX) != 0) {
    close(guard);
    return -1;
  }
  int fd = create ? OpenShared(path) : open(path.c_str(), O_RDWR | O_CLOEXEC);
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
  const int fd = TakeShare(folder_, folder_ + "/" + ObjectFileName(name) + ".mutex", true,
                           already_existed, [](int) { return true; });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixNamedMutex>(fd);
}

std::unique_ptr<NamedMapping> PosixNamedObjects::CreateFileMapping(const std::string& name,
                                                                   size_t size,
                                                                   bool* already_existed) {
  const int fd = TakeShare(folder_, folder_ + "/" + ObjectFileName(name) + ".mapping", true,
                           already_existed, [size](int f) {
                             // A new mapping starts zero-filled at its size.
                             return ftruncate(f, 0) == 0 &&
                                    ftruncate(f, static_cast<off_t>(size)) == 0;
                           });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixMapping>(fd);
}

std::unique_ptr<NamedMapping> PosixNamedObjects::OpenFileMapping(const std::string& name) {
  const int fd = TakeShare(folder_, folder_ + "/" + ObjectFileName(name) + ".mapping", false,
                           nullptr, [](int) { return true; });
  if (fd < 0) return nullptr;
  return std::make_unique<PosixMapping>(fd);
}

bool PosixNamedObjects::MutexHeld(const std::string& name) {
  const int fd = open((folder_ + "/" + ObjectFileName(name) + ".mutex").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return !free;
}

}  // namespace kvx
