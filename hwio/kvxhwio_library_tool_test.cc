// The shared hardware access library as other programs see it: its dynamic
// symbol table holds the functions its C header declares, and nothing else.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/tool_harness.h"

namespace kvx::testing {
namespace {

// The function names hwio/kvxhwio.h declares.
std::set<std::string> HeaderFunctions() {
  std::ifstream header(KVX_SOURCE_DIR "/hwio/kvxhwio.h");
  std::stringstream text;
  text << header.rdbuf();
  const std::string s = text.str();
  const std::regex declaration(R"((?:^|\n)(?:KVXBOOL|void|uint8_t\s*\*)\s*(\w+)\s*\()");
  std::set<std::string> names;
  for (std::sregex_iterator it(s.begin(), s.end(), declaration), end; it != end; ++it)
    names.insert((*it)[1]);
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
