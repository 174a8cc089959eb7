// The emulated machine's request frames, as its socket receives them: a
// stream of frames, each read and answered in turn, on a fresh machine.
// Properties: a frame that is read writes back as the same bytes; every
// request gets a reply that is "ok", or "err" and a Windows error number;
// the machine never writes outside its machine folder and its volume, and
// what it made is gone once it stops.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "emulator/machine.h"
#include "fuzz/fuzz_support.h"
#include "platform/posix/emu_wire.h"

namespace kvx::fuzz {
namespace {

// A file holding `bytes`, positioned at its start; -1 when none can be made.
int BytesFile(const std::string& bytes) {
  const int fd = memfd_create("frames", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    names.insert(e.path().filename().string());
  return names;
}

// Every path below `folder`, relative to it.
std::set<std::string> Tree(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    names.insert(it->path().lexically_relative(folder).string());
  return names;
}

bool IsErrorNumber(const std::string& field) {
  if (field.empty() || field.size() > 10) return false;
  for (char c : field)
    if (c < '0' || c > '9') return false;
  return std::strtoll(field.c_str(), nullptr, 10) > 0;
}

}  // namespace

void CheckInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  static testing::TempDir parent;
  static const std::string folder = parent / "machine";
  static const std::string volume = parent / "volume";
  // The folders are made once. A stopped machine leaves its folder's
  // entries as it found them, and inside them what the first machine left
  // (its physical memory file, which the next Start truncates, and the
  // devices folder): every input after the first starts from that.
  static const std::set<std::string> machine_before = [] {
    testing::RemoveTree(folder);
    testing::MakeDirs(folder + "/emu");
    testing::MakeDirs(folder + "/dosdevices");
    testing::MakeDirs(volume);
    return Entries(folder);
  }();
  static std::set<std::string> left_by_the_first;

  // The two files the frames pass through, made once and refilled.
  static const int in = BytesFile(""), out = BytesFile("");
  Require(in >= 0 && out >= 0 && ftruncate(in, 0) == 0 &&
              pwrite(in, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()) &&
              lseek(in, 0, SEEK_SET) == 0,
          "the frames can be held in memory");
  {
    emu::Machine machine(folder, volume, bytes.size() % 2 == 0);
    std::string error;
    Require(machine.Start(error), "a fresh machine starts");
    Fields request;
    off_t at = 0;
    while (ReceiveFields(in, request)) {
      const off_t end = lseek(in, 0, SEEK_CUR);
      // The frame just read, written again, is the same bytes.
      Require(ftruncate(out, 0) == 0 && lseek(out, 0, SEEK_SET) == 0 && SendFields(out, request),
              "a frame can be written");
      std::string again(static_cast<size_t>(lseek(out, 0, SEEK_CUR)), '\0');
      Require(pread(out, again.data(), again.size(), 0) == static_cast<ssize_t>(again.size()),
              "a written frame can be read");
      Require(again == bytes.substr(static_cast<size_t>(at), static_cast<size_t>(end - at)),
              "a frame read and written again is the same bytes");
      at = end;
      if (request.empty()) break;  // the server ends a connection that sends one
      const Fields reply = machine.Handle(request);
      Require(!reply.empty(), "every request is answered");
      Require(reply[0] == "ok" || (reply[0] == "err" && reply.size() == 2 && IsErrorNumber(reply[1])),
              "a reply is \"ok\", or \"err\" and a Windows error number");
    }
    machine.Stop();
  }
  Require(Entries(parent.path()) == std::set<std::string>{"machine", "volume"},
          "the machine writes nothing beside its folder and its volume");
  if (left_by_the_first.empty()) {
    Require(Entries(folder) == machine_before, "a stopped machine leaves its folder as it found it");
    left_by_the_first = Tree(folder);
  } else {
    // The same entries as the first left, which were those it found.
    Require(Tree(folder) == left_by_the_first,
            "a stopped machine leaves its folder as it found it, as the first machine left it");
  }
}

}  // namespace kvx::fuzz
