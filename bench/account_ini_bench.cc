// Times WriteAccountINIForRemote for 40 accounts (the most the flash system
// hands over) and for 1,000, and one WriteAccessSettings, on a volume in a
// temp folder.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_machine.h"
#include "service/account_ini.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

void MakeVolume(const std::string& volume, int accounts) {
  fs::remove_all(volume);
  for (int i = 0; i < accounts; ++i) {
    const std::string name = "account" + std::to_string(i);
    fs::create_directories(volume + "/QUARLE.000/" + name);
    std::ofstream out(volume + "/QUARLE.000/" + name + "/kvxaccount.ini", std::ios::binary);
    out << "\xEF\xBB\xBF[" << name << "]\r\nDataFolder=~:\\QUARLE.000\\" << name
        << "\r\nPassword=pw\r\nUserImage=u.png\r\nIndexFile=i.idx\r\nFirstPageType=1\r\n"
           "KeyboardID=00000409\r\nRestoreKeyboardID=00000409\r\nFirstTime=1\r\nPFLDR=p\r\n"
           "LanguageID=0409\r\nRestoreLanguageID=0409\r\nMAIL=1\r\nWEB=1\r\n";
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  kvx::bench::BenchMachine machine;
  kvx::ToolContext& ctx = machine.ctx;
  const std::string& volume = machine.volume;

  std::printf("Account files (median of the runs)\n");
  for (int accounts : {40, 1000}) {
    MakeVolume(volume, accounts);
    std::vector<double> times;
    const int runs = accounts > 100 ? 3 : 9;
    for (int r = 0; r < runs; ++r) {
      const auto start = Clock::now();
      kvx::WriteAccountINIForRemote(ctx);
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("  WriteAccountINIForRemote, %4d accounts  %9.1f ms\n", accounts, Median(times));
  }
  MakeVolume(volume, 1);
  const int flags[9] = {0, 1, 0, 1, 1, 1, 1, 1, 0};
  std::vector<double> times;
  for (int r = 0; r < 51; ++r) {
    const auto start = Clock::now();
    kvx::WriteAccessSettings(ctx, "~:\\QUARLE.000\\account0\\kvxaccount.ini", flags, "account0");
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::printf("  WriteAccessSettings, one account         %9.2f ms\n", Median(times));
  return 0;
}
