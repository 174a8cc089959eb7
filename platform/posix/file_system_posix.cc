#include "platform/posix/file_system_posix.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace kvx {

namespace {

class StdioFile : public File {
 public:
  explicit StdioFile(FILE* f) : f_(f) {}
  ~StdioFile() override { std::fclose(f_); }
  bool Write(const void* data, size_t size) override {
    return std::fwrite(data, 1, size, f_) == size;
  }
  bool Flush() override { return std::fflush(f_) == 0; }

 private:
  FILE* f_;
};

}  // namespace

int PosixFileSystem::Access(const std::string& path, int mode) {
  std::string native;
  if (!paths_.ToNative(path, native)) return ENOENT;
  int how = F_OK;
  if (mode & 2) how |= W_OK;
  if (mode & 4) how |= R_OK;
  if (how != F_OK) how &= ~F_OK;
  return access(native.c_str(), how) == 0 ? 0 : errno;
}

std::unique_ptr<File> PosixFileSystem::Open(const std::string& path, const char* mode,
                                            int* error) {
  std::string native;
  if (!paths_.ToNative(path, native)) {
    if (error) *error = ENOENT;
    return nullptr;
  }
  // Text and binary modes are the same on POSIX; "t" is not a POSIX mode.
  std::string m;
  for (const char* p = mode; *p; ++p)
    if (*p != 't') m += *p;
  FILE* f = std::fopen(native.c_str(), (m + "e").c_str());
  if (f == nullptr) {
    if (error) *error = errno;
    return nullptr;
  }
  return std::make_unique<StdioFile>(f);
}

}  // namespace kvx
