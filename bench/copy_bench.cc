// The throughput of copyPersistentData beside cp on the same files in the
// same run: one 1 GiB file, and 10,000 files of 4 KiB. The flash cycle of
// the benchmark only publishes the flash root, so none of the mandated
// waits is in the figures.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_machine.h"
#include "flash/persistent_copy.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double RunCp(const std::string& from_dir, const std::string& to_dir) {
  fs::remove_all(to_dir);
  fs::create_directories(to_dir);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    // cp copies the folder's files, as the tool does (no subfolders).
    execl("/bin/sh", "sh", "-c", ("cp -p \"$0\"/* \"$1\"/"), from_dir.c_str(), to_dir.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status;
  waitpid(pid, &status, 0);
  return Seconds(start);
}

void Report(const char* label, double bytes, double tool, double cp) {
  const double mib = bytes / (1 << 20);
  std::printf("  %-22s copyPersistentData %8.1f MiB/s   cp %8.1f MiB/s   ratio %.2f\n", label,
              mib / tool, mib / cp, cp / tool);
}

// The size of the big file in MiB: 1024, or KVX_COPY_BENCH_MIB on a
// machine without the room or the time for a whole GiB.
int BigFileMib() {
  const char* env = std::getenv("KVX_COPY_BENCH_MIB");
  const int mib = env ? std::atoi(env) : 0;
  return mib > 0 ? mib : 1024;
}

}  // namespace

int main() {
  kvx::bench::BenchMachine m;
  const std::string user = m.volume + "/QUARLE.000/user";
  const std::string pc = m.dir + "/pc";
  std::printf("copyPersistentData beside cp (ratio: tool throughput / cp throughput)\n");

  fs::create_directories(user);
  const int big_mib = BigFileMib();
  {
    std::ofstream big(user + "/big.bin", std::ios::binary);
    std::vector<char> block(1 << 20, 'k');
    for (int i = 0; i < big_mib; ++i) big.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  fs::create_directories(pc);
  auto start = Clock::now();
  kvx::CopyPersistentData(m.ctx, kvx::PathMap::ToWindows(pc));
  const double tool_big = Seconds(start);
  const double cp_big = RunCp(user, m.dir + "/cp");
  const std::string big_label = "one " + std::to_string(big_mib) + " MiB file";
  Report(big_label.c_str(), big_mib * double(1 << 20), tool_big, cp_big);

  fs::remove_all(user);
  fs::remove_all(pc);
  fs::create_directories(user);
  fs::create_directories(pc);
  const std::string small(4096, 's');
  for (int i = 0; i < 10000; ++i) std::ofstream(user + "/f" + std::to_string(i) + ".dat") << small;
  start = Clock::now();
  kvx::CopyPersistentData(m.ctx, kvx::PathMap::ToWindows(pc));
  const double tool_small = Seconds(start);
  const double cp_small = RunCp(user, m.dir + "/cp");
  Report("10,000 files of 4 KiB", 10000.0 * 4096, tool_small, cp_small);
  return 0;
}
