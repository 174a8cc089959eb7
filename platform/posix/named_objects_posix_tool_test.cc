// The tool's single-instance guard against named objects of another kind:
// a program that holds a file mapping under the guard's name keeps the tool
// out, as one name is one object on Windows.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/posix/named_objects_posix.h"
#include "tests/tool_harness.h"

namespace kvx {
namespace {

using namespace kvx::testing;

TEST(SingleInstance, AMappingOfTheGuardsNameKeepsTheToolOut) {
  ToolSandbox box;
  const std::string folder = box.machine() + "/objects";
  std::filesystem::create_directories(folder);
  PosixNamedObjects objects(folder);
  bool existed = true;
  auto mapping = objects.CreateFileMapping("Global\\VeskQZRGlobalMutex", 4096, &existed);
  ASSERT_NE(mapping, nullptr);
  RunResult r = box.Run({"c.xml"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "Cannot process the request. Another utility or application is currently running.\n");
  EXPECT_EQ(box.Log(), "");  // turned away before its history line
  mapping.reset();
  r = box.Run({});
  EXPECT_EQ(r.exit_code, 1);  // the name is free again
}

}  // namespace
}  // namespace kvx
