// kvxdbgview as a script uses it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;

// Sends one datagram to the viewer of `folder`, as the tool does.
void Send(const std::string& folder, const std::string& text) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = folder + "/dbgview.sock";
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  close(fd);
}

TEST(KvxDbgView, PrintsEachMessageOnALine) {
  TempDir machine;
  DebugViewer viewer(machine.path());
  Send(machine.path(), "first");
  Send(machine.path(), "second\n");
  Send(machine.path(), "two\nlines");
  Send(machine.path(), "");
  EXPECT_EQ(viewer.Stop(), (std::vector<std::string>{"first", "second", "two", "lines", ""}));
}

TEST(KvxDbgView, OneViewerPerMachineFolder) {
  TempDir machine;
  DebugViewer viewer(machine.path());
  RunResult r = RunProgram({KVX_DBGVIEW_PATH}, {"KVXPREFIX=" + machine.path()}, "");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("another viewer is attached"), std::string::npos) << r.err;
  Send(machine.path(), "still here");
  EXPECT_EQ(viewer.Stop(), (std::vector<std::string>{"still here"}));
  // A viewer that died leaves its endpoint behind; the next one replaces it.
  WriteFile(machine / "dbgview.sock", "");
  DebugViewer next(machine.path());
  Send(machine.path(), "again");
  EXPECT_EQ(next.Stop(), (std::vector<std::string>{"again"}));
}

TEST(KvxDbgView, AMachineFolderWithALongPathWorks) {
  TempDir base;
  const std::string folder = base.path() + "/" + std::string(120, 'm');
  MakeDirs(folder);
  DebugViewer viewer(folder);
  ToolSandbox box;
  RunResult r = RunProgram({box.tool()}, {"KVXPREFIX=" + folder}, box.work());
  EXPECT_EQ(r.exit_code, 1);
  const std::vector<std::string> lines = viewer.Stop();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Before create VeskQZRGlobalMutex.");
}

TEST(KvxDbgView, HelpAndBadArguments) {
  RunResult r = RunProgram({KVX_DBGVIEW_PATH, "--help"}, {}, "");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Usage: kvxdbgview"), std::string::npos);
  r = RunProgram({KVX_DBGVIEW_PATH, "--bogus"}, {}, "");
  EXPECT_EQ(r.exit_code, 1);
}

}  // namespace
}  // namespace kvx
