// The structure walk over the emulated firmware's table agrees with
// dmidecode reading the same table: the same structures (handle, type,
// length), in the same order.
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "hwio/smbios_service.h"
#include "tests/emu_machine.h"
#include "tests/temp_dir.h"

namespace kvx {
namespace {

using namespace kvx::testing;

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(SmbiosWalk, AgreesWithDmidecodeOnTheEmulatedTable) {
  if (Shell("command -v dmidecode || ls /usr/sbin/dmidecode 2>/dev/null").empty()) {
    if (std::getenv("KVX_REQUIRE_DMIDECODE")) FAIL() << "dmidecode is required here";
    GTEST_SKIP() << "dmidecode is not installed";
  }
  EmuMachine emu;
  ASSERT_TRUE(emu.up());
  const std::string tables = emu.machine() + "/firmware/dmi/tables";
  std::string entry = ReadFile(tables + "/smbios_entry_point");
  const std::string table = ReadFile(tables + "/DMI");
  ASSERT_EQ(entry.size(), 24u);
  // dmidecode's dump layout: the entry point at 0, pointing at the table,
  // which starts at offset 32. The checksum is kept right.
  for (int i = 0; i < 8; ++i) entry[16 + i] = i == 0 ? 32 : 0;
  unsigned sum = 0;
  entry[5] = 0;
  for (char c : entry) sum += static_cast<unsigned char>(c);
  entry[5] = static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF);
  TempDir dir;
  WriteFile(dir / "dump.bin", entry + std::string(8, '\0') + table);
  const std::string out = Shell("/usr/sbin/dmidecode --from-dump " + (dir / "dump.bin") + " 2>&1");

  std::vector<std::string> theirs;
  for (size_t at = out.find("Handle 0x"); at != std::string::npos; at = out.find("Handle 0x", at + 1)) {
    theirs.push_back(out.substr(at, out.find('\n', at) - at));
  }
  std::vector<std::string> ours;
  SmbiosTable walk(std::vector<uint8_t>(table.begin(), table.end()));
  walk.EnumStructures([&](size_t offset, size_t, uint8_t type) {
    char line[64];
    std::snprintf(line, sizeof line, "Handle 0x%04X, DMI type %u, %u bytes", walk.Word(offset + 2), type,
                  walk.Byte(offset + 1));
    ours.push_back(line);
  });
  EXPECT_EQ(ours, theirs) << out;
  EXPECT_GE(ours.size(), 5u);
  EXPECT_NE(out.find("SMBIOS 3.0.0 present."), std::string::npos) << out;
}

}  // namespace
}  // namespace kvx
