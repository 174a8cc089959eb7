// Loads and validates a 10 MB command file with the tool's loader, and
// with xmllint --noout --schema on the same files in the same run, and
// prints both times and their ratio.
//
// Usage: xml_validate_bench SCHEMA QZRREMOTE [RUNS]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_machine.h"
#include "platform/libxml2/xml_dom_libxml2.h"
#include "platform/posix/file_system_posix.h"
#include "platform/string_table.h"
#include "xml/xml_loader.h"

namespace {

using Clock = std::chrono::steady_clock;

class NoDebug : public kvx::DebugOutput {
 public:
  void Write(std::string_view) override {}
};

class English : public kvx::StringResources {
 public:
  std::string Load(int id) override {
    const char* t = kvx::StringTableText(kvx::kLangEnglish, id);
    return t ? t : "";
  }
};

// A command file of about `bytes`, with every kind of element.
void WriteCommandFile(const std::string& path, size_t bytes) {
  std::ofstream out(path);
  out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<remoteCmd>\n";
  size_t written = 0;
  for (int i = 0; written < bytes; ++i) {
    std::string block = "  <singleUser action=\"resetUser\" user=\"account" + std::to_string(i) +
                        "\"/>\n  <allUser action=\"changePassword\"/>\n"
                        "  <configVA><mail action=\"0\"/><web action=\"1\"/><singleuser user=\"u" +
                        std::to_string(i) + "\"/></configVA>\n"
                        "  <configPower><ac standby=\"30\"/><dc standby=\"10\"/></configPower>\n";
    out << block;
    written += block.size();
  }
  out << "</remoteCmd>\n";
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs a program to its end with its output discarded; its time in ms.
double TimeProgram(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   int* exit_code) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct LoaderReport {
  double ms;
  bool ok;
};

// One load and validation with the tool's loader, the document freed as
// the tool frees it, timed in a child process: each run starts from a
// fresh heap, as the tool's own process does, and not from the heap the
// run before left (glibc merges the freed chunks of a 10 MB tree at the
// next large request, which would bill one run's free to the next). The
// time in ms; -1 when the child could not report.
double TimeLoader(kvx::XmlLoadContext& ctx, const std::string& file, const std::string& schema,
                  bool* valid) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::unique_ptr<kvx::XmlDocument> doc;
    std::string text;
    const auto start = Clock::now();
    const bool ok = kvx::LoadAndValidateXml(ctx, doc, file, schema, text);
    doc.reset();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const LoaderReport report{ms, ok};
    _exit(write(fds[1], &report, sizeof report) == sizeof report ? 0 : 1);
  }
  close(fds[1]);
  LoaderReport report{-1, false};
  const bool got = pid > 0 && read(fds[0], &report, sizeof report) == sizeof report;
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  *valid = got && report.ok;
  return got ? report.ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "Usage: %s SCHEMA QZRREMOTE [RUNS]\n", argv[0]);
    return 1;
  }
  const std::string schema = argv[1], tool = argv[2];
  const int runs = argc > 3 ? std::atoi(argv[3]) : 7;
  const std::string dir = kvx::bench::MakeTempDir();
  const std::string file = dir + "/commands.xml";
  WriteCommandFile(file, 10u << 20);
  std::ifstream probe(file, std::ios::ate | std::ios::binary);
  const double megabytes = static_cast<double>(probe.tellg()) / (1 << 20);

  auto xml = kvx::CreateLibxml2Services([](const std::string& w, std::string& n) {
    n = w;
    return true;
  });
  kvx::PathMap paths(dir);
  kvx::PosixFileSystem files(paths, dir + "/temp");
  NoDebug debug;
  English strings;
  kvx::XmlLoadContext ctx{*xml, files, debug, strings};

  std::vector<double> loader, xmllint, process;
  bool all_valid = true;
  for (int i = 0; i < runs; ++i) {
    bool valid = false;
    loader.push_back(TimeLoader(ctx, file, schema, &valid));
    all_valid &= valid;

    int code = 0;
    xmllint.push_back(TimeProgram({"xmllint", "--noout", "--schema", schema, file},
                                  {"PATH=/usr/bin:/bin"}, &code));
    all_valid &= code == 0;
    // The whole tool up to the command stage, in a machine folder of its own.
    process.push_back(TimeProgram({tool, file}, {"KVXPREFIX=" + dir + "/machine"}, &code));
  }
  std::printf("Load and validate a %.1f MB command file (median of %d runs)\n", megabytes, runs);
  std::printf("  tool loader (in process)   %8.1f ms (a fresh process each run)\n", Median(loader));
  std::printf("  xmllint --noout --schema   %8.1f ms\n", Median(xmllint));
  std::printf("  ratio loader / xmllint     %8.2f\n", Median(loader) / Median(xmllint));
  std::printf("  QZRRemote whole run        %8.1f ms (start, guard, load, validate, log)\n",
              Median(process));
  if (!all_valid) std::printf("  warning: a run did not validate the file\n");
  std::string cleanup = "rm -rf '" + dir + "'";
  return std::system(cleanup.c_str()) == 0 && all_valid ? 0 : 1;
}
