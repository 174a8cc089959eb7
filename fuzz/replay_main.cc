// Replays inputs through a fuzz target's entry, without libFuzzer: every
// file named, and every file of every folder named, in name order, each in
// a child process of its own so that one failing input hides no other; the
// failing ones are named at the end. A folder that does not exist holds
// nothing (git keeps no empty folder, and a target may have no failed
// inputs yet); having nothing at all to replay is an error. Built with any
// compiler, so that every build's tests replay the seeds and every input
// that once failed. A child ends without running exit handlers, so the
// temp folders a target makes go into a folder of the replay's own
// (TMPDIR), removed after each input.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (std::filesystem::is_directory(argv[i], ec)) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec))
        if (entry.is_regular_file(ec)) inputs.push_back(entry.path());
    } else if (std::filesystem::is_regular_file(argv[i], ec)) {
      inputs.emplace_back(argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 2;
  }
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::string own = (base / "kvxreplay.XXXXXX").string();
  if (mkdtemp(own.data()) == nullptr) {
    std::fprintf(stderr, "cannot make a temp folder in %s\n", base.c_str());
    return 2;
  }
  setenv("TMPDIR", own.c_str(), 1);
  std::vector<std::string> failed;
  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 2;
    }
    std::printf("replay %s (%zu bytes)\n", path.c_str(), bytes.size());
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      std::fflush(nullptr);
      _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      std::printf("FAILED: %s\n", path.c_str());
      failed.push_back(path.string());
    }
    // What the child left; links inside are removed, never followed.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(own, ec))
      std::filesystem::remove_all(entry.path(), ec);
  }
  std::error_code ec;
  std::filesystem::remove_all(own, ec);
  if (!failed.empty()) {
    std::printf("%zu of %zu inputs failed:\n", failed.size(), inputs.size());
    for (const std::string& f : failed) std::printf("  %s\n", f.c_str());
    return 1;
  }
  std::printf("%zu inputs replayed, every property held\n", inputs.size());
  return 0;
}
