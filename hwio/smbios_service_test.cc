#include "hwio/smbios_service.h"

#include <gtest/gtest.h>

#include "platform/posix/smbios_source_posix.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace kvx {
namespace {

using namespace kvx::testing;

// Builds raw structure tables for the tests.
class TableBuilder {
 public:
  // A structure: its header, the rest of its formatted area, its strings.
  TableBuilder& Add(uint8_t type, uint16_t handle, std::vector<uint8_t> rest,
                    std::vector<std::string> strings = {}) {
    bytes.push_back(type);
    bytes.push_back(static_cast<uint8_t>(4 + rest.size()));
    bytes.push_back(static_cast<uint8_t>(handle & 0xFF));
    bytes.push_back(static_cast<uint8_t>(handle >> 8));
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    for (const std::string& s : strings) {
      bytes.insert(bytes.end(), s.begin(), s.end());
      bytes.push_back(0);
    }
    if (strings.empty()) bytes.push_back(0);
    bytes.push_back(0);
    return *this;
  }
  // A calling-interface structure with `tokens` (id, location, value),
  // the end marker added when `marker`.
  TableBuilder& CallingInterface(uint16_t handle, uint16_t port, uint8_t code,
                                 std::vector<TokenEntry> tokens, bool marker = true) {
    std::vector<uint8_t> rest = {static_cast<uint8_t>(port & 0xFF), static_cast<uint8_t>(port >> 8), code,
                                 0xFF, 0xFF, 0xFF, 0xFF};
    if (marker) tokens.push_back({0xFFFF, 0, 0});
    for (const TokenEntry& t : tokens)
      for (uint16_t w : {t.id, t.location, t.value}) {
        rest.push_back(static_cast<uint8_t>(w & 0xFF));
        rest.push_back(static_cast<uint8_t>(w >> 8));
      }
    return Add(218, handle, rest);
  }
  std::vector<uint8_t> bytes;
};

class FixedSource : public SmbiosSource {
 public:
  bool Fetch(RawSmbios& out, std::string& failure) override {
    ++fetches;
    if (!ok) {
      failure = "FetchSMBiosData:; Exit ConnectServer";
      return false;
    }
    out = raw;
    return true;
  }
  RawSmbios raw{3, 4, {}};
  bool ok = true;
  int fetches = 0;
};

class SmbiosTest : public ::testing::Test {
 protected:
  SMBiosService& Service(const TableBuilder& b) {
    source.raw.table = b.bytes;
    service = std::make_unique<SMBiosService>(debug, source);
    service->InitSMBIOS();
    return *service;
  }
  RecordingDebug debug;
  FixedSource source;
  std::unique_ptr<SMBiosService> service;
};

TEST_F(SmbiosTest, TheWalkFindsEveryStructureInOrder) {
  TableBuilder b;
  b.Add(0, 0x0000, {1, 2, 3}, {"Vendor", "1.0"}).Add(1, 0x0001, {}).CallingInterface(0xDA00, 0xB2, 0x0D, {});
  b.Add(127, 0xFEFF, {});
  const SmbiosTable table(b.bytes);
  std::vector<std::pair<size_t, uint8_t>> seen;
  table.EnumStructures([&](size_t offset, size_t index, uint8_t type) {
    EXPECT_EQ(index, seen.size());
    seen.emplace_back(offset, type);
  });
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], (std::pair<size_t, uint8_t>{0, 0}));
  EXPECT_EQ(seen[1].first, 7u + 12u);  // header and formatted bytes, then "Vendor\0" "1.0\0" "\0"
  EXPECT_EQ(table.FindNextStructure(std::nullopt, 218), seen[2].first);
  EXPECT_EQ(table.FindNextStructure(seen[2].first, 218), std::nullopt);
  EXPECT_EQ(table.GetStructureByIndex(3), seen[3].first);
  EXPECT_EQ(table.GetStructureByIndex(4), std::nullopt);
}

TEST_F(SmbiosTest, BrokenStructuresEndTheWalk) {
  TableBuilder good;
  good.Add(1, 1, {});
  // Truncated in the middle of the second structure's header.
  TableBuilder truncated = good;
  truncated.bytes.insert(truncated.bytes.end(), {218, 23});
  // A string set that never ends inside the table.
  TableBuilder open = good;
  open.bytes.insert(open.bytes.end(), {2, 4, 0, 0, 'a', 'b'});
  // A formatted length below 4.
  TableBuilder short_length = good;
  short_length.bytes.insert(short_length.bytes.end(), {2, 3, 0, 0, 0, 0});
  for (const TableBuilder* b : {&truncated, &open, &short_length}) {
    size_t count = 0;
    SmbiosTable(b->bytes).EnumStructures([&](size_t, size_t, uint8_t) { ++count; });
    EXPECT_EQ(count, 1u);
  }
  size_t count = 0;
  SmbiosTable({}).EnumStructures([&](size_t, size_t, uint8_t) { ++count; });
  EXPECT_EQ(count, 0u);
}

TEST_F(SmbiosTest, TokenCountsFollowTheFormattedLength) {
  // Lengths 11 (no entry), 17 (only the marker) and 23 (one token).
  TableBuilder b;
  b.CallingInterface(1, 0xB2, 0x0D, {}, false).CallingInterface(2, 0xB2, 0x0D, {});
  b.CallingInterface(3, 0xB2, 0x0D, {{0x0100, 0x10, 0x20}});
  SMBiosService& s = Service(b);
  ASSERT_EQ(s.records().size(), 3u);
  EXPECT_EQ(s.records()[0].length, 11);
  EXPECT_TRUE(s.records()[0].tokens.empty());
  EXPECT_TRUE(s.records()[1].tokens.empty());
  ASSERT_EQ(s.records()[2].tokens.size(), 1u);
  EXPECT_TRUE(debug.Has("nIndex: -1.\n"));
  EXPECT_TRUE(debug.Has("nIndex: 0.\n"));
  EXPECT_TRUE(debug.Has("nIndex: 1.\n"));
  EXPECT_TRUE(debug.Has("--token: location: value: 0x100, 0x10, 0x20.\n"));
}

TEST_F(SmbiosTest, AnEarlyMarkerEndsTheListAndAMissingOneDropsTheLastToken) {
  TableBuilder b;
  b.CallingInterface(1, 0xB2, 0x0D, {{1, 1, 1}, {0xFFFF, 0, 0}, {2, 2, 2}});
  b.CallingInterface(2, 0xB2, 0x0D, {{3, 3, 3}, {4, 4, 4}}, false);
  SMBiosService& s = Service(b);
  ASSERT_EQ(s.records()[0].tokens.size(), 1u);
  ASSERT_EQ(s.records()[1].tokens.size(), 1u);  // the last entry counts as the marker
  uint16_t location = 0, value = 0;
  EXPECT_FALSE(s.GetTokenFromTokenID(2, location, value));
  EXPECT_FALSE(s.GetTokenFromTokenID(4, location, value));
  EXPECT_TRUE(s.GetTokenFromTokenID(3, location, value));
}

TEST_F(SmbiosTest, TheFirstStructureGivesPortCodeAndFirstTokens) {
  TableBuilder b;
  b.CallingInterface(1, 0xB2, 0x0D, {{0x10, 1, 2}});
  b.CallingInterface(2, 0x80, 0x22, {{0x10, 9, 9}, {0x11, 5, 6}});
  SMBiosService& s = Service(b);
  uint16_t port = 0, code = 0;
  ASSERT_TRUE(s.GetAddrPort2(port, code));
  EXPECT_EQ(port, 0xB2);
  EXPECT_EQ(code, 13);  // the code byte, widened
  EXPECT_TRUE(debug.Has("GetAddrPort2: got location/value: 178:13"));
  uint16_t location = 0, value = 0;
  ASSERT_TRUE(s.GetTokenFromTokenID(0x10, location, value));
  EXPECT_EQ(location, 1);
  ASSERT_TRUE(s.GetTokenFromTokenID(0x11, location, value));
  EXPECT_EQ(value, 6);
  // Later defaults and later fetches change nothing.
  s.SetDefaultPortValue(1, 2);
  s.InitSMBIOS();
  s.InitSMBIOS();
  EXPECT_EQ(s.records().size(), 6u);  // appended again on every call
  ASSERT_TRUE(s.GetAddrPort2(port, code));
  EXPECT_EQ(port, 0xB2);
  ASSERT_TRUE(s.GetTokenFromTokenID(0x10, location, value));
  EXPECT_EQ(location, 1);
}

TEST_F(SmbiosTest, WithoutACallingInterfaceTheDefaultsStandAndNothingIsFound) {
  TableBuilder b;
  b.Add(0, 0, {}).Add(1, 1, {});
  SMBiosService& s = Service(b);
  s.SetDefaultPortValue(0x1234, 0x56);
  uint16_t port = 0, code = 0;
  EXPECT_FALSE(s.GetAddrPort2(port, code));
  EXPECT_EQ(port, 0x1234);
  EXPECT_EQ(code, 0x56);
  s.SetDefaultPortValue(1, 1);
  EXPECT_FALSE(s.GetAddrPort2(port, code));
  EXPECT_EQ(port, 0x1234);  // taken once, on the first call
}

TEST_F(SmbiosTest, AFetchThatFailsLeavesTheListAsItWas) {
  source.ok = false;
  SMBiosService s(debug, source);
  EXPECT_TRUE(s.InitSMBIOS());
  EXPECT_TRUE(s.records().empty());
  EXPECT_EQ(debug.lines, (std::vector<std::string>{"FetchSMBiosData::", "FetchSMBiosData:; Exit ConnectServer",
                                                   "Exit FetchSMBiosData"}));
  uint16_t location = 0, value = 0;
  EXPECT_FALSE(s.GetTokenFromTokenID(1, location, value));
}

TEST(PosixSmbiosSource, ReadsTheTableAndItsVersion) {
  TempDir dir;
  WriteFile(dir / "smbios_entry_point", std::string("_SM3_\x18\x18\x03\x04\x00", 10));
  WriteFile(dir / "DMI", std::string("\x7f\x04\xff\xfe\x00\x00", 6));
  PosixSmbiosSource source(dir.path());
  RawSmbios raw;
  std::string failure;
  ASSERT_TRUE(source.Fetch(raw, failure));
  EXPECT_EQ(raw.major, 3);
  EXPECT_EQ(raw.minor, 4);
  EXPECT_EQ(raw.table.size(), 6u);
  WriteFile(dir / "smbios_entry_point", std::string("_SM_\x00\x1f\x02\x08", 8));
  ASSERT_TRUE(source.Fetch(raw, failure));
  EXPECT_EQ(raw.major, 2);
  EXPECT_EQ(raw.minor, 8);
  PosixSmbiosSource missing(dir / "none");
  EXPECT_FALSE(missing.Fetch(raw, failure));
  EXPECT_FALSE(failure.empty());
}

}  // namespace
}  // namespace kvx
