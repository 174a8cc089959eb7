// The shared hardware access library as other programs see it: its dynamic
// symbol table holds the functions its C header declares, and nothing else.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/tool_harness.h"

namespace kvx::testing {
namespace {

// The function names hwio/kvxhwio.h declares: each declaration is a line
// that begins with its result type (KVXBOOL, void or uint8_t *) and goes
// on with the name and "(".
std::set<std::string> HeaderFunctions() {
  std::ifstream header(KVX_SOURCE_DIR "/hwio/kvxhwio.h");
  std::set<std::string> names;
  for (std::string line; std::getline(header, line);) {
    size_t at = std::string::npos;
    for (const char* type : {"KVXBOOL", "void", "uint8_t"})
      if (line.rfind(type, 0) == 0) at = std::strlen(type);
    if (at == std::string::npos) continue;
    while (at < line.size() && (line[at] == ' ' || line[at] == '*')) ++at;
    size_t end = at;
    while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '_'))
      ++end;
    if (end > at && end < line.size() && line[end] == '(') names.insert(line.substr(at, end - at));
  }
  return names;
}

TEST(HwioLibrary, ExportsExactlyTheFunctionsOfItsHeader) {
  const std::set<std::string> declared = HeaderFunctions();
  ASSERT_EQ(declared.size(), 17u);
  const RunResult nm = RunProgram({"/usr/bin/nm", "-D", "--defined-only", KVX_HWIO_LIB_PATH}, {}, "/");
  ASSERT_EQ(nm.exit_code, 0) << nm.err;
  std::set<std::string> exported;
  std::istringstream lines(nm.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t name = line.find_last_of(' ');
    if (name != std::string::npos) exported.insert(line.substr(name + 1));
  }
  EXPECT_EQ(exported, declared);
}

}  // namespace
}  // namespace kvx::testing
