#include "hwio/pe_exports.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hwio/driver_records.h"

namespace kvx {
namespace {

// A minimal PE image: "MZ", the header offset at 60, "PE\0\0" there, the
// export directory's address at header + 120, and a function table.
std::vector<uint8_t> Image(std::vector<uint32_t> functions, uint32_t ordinal_base = 1) {
  std::vector<uint8_t> image(1024, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(image.data() + at, &v, 4); };
  image[0] = 'M';
  image[1] = 'Z';
  put32(60, 128);
  std::memcpy(image.data() + 128, "PE\0\0", 4);
  put32(128 + 120, 400);                 // the export directory
  put32(400 + 16, ordinal_base);         // not used by the lookup
  put32(400 + 20, static_cast<uint32_t>(functions.size()));
  put32(400 + 28, 500);                  // the function address table
  for (size_t i = 0; i < functions.size(); ++i) put32(500 + 4 * i, functions[i]);
  return image;
}

TEST(PeExports, OrdinalsIndexTheFunctionTableFromOne) {
  const std::vector<uint8_t> image = Image({0x300, 0x310, 0x320}, 7);
  EXPECT_EQ(FindKernel32Ordinal(image.data(), image.size(), 1), image.data() + 0x300);
  EXPECT_EQ(FindKernel32Ordinal(image.data(), image.size(), 3), image.data() + 0x320);
  EXPECT_EQ(FindKernel32Ordinal(image.data(), image.size(), 4), nullptr);
  EXPECT_EQ(FindKernel32Ordinal(image.data(), image.size(), 0), nullptr);
}

TEST(PeExports, ImagesThatAreNoModuleOrPointOutsideAreRefused) {
  std::vector<uint8_t> image = Image({0x300});
  image[0] = 'X';
  EXPECT_EQ(FindKernel32Ordinal(image.data(), image.size(), 1), nullptr);
  image = Image({0x300});
  image[129] = 'X';  // no "PE"
  EXPECT_EQ(FindKernel32Ordinal(image.data(), image.size(), 1), nullptr);
  image = Image({0x300});
  const uint32_t far = 1u << 30;
  std::memcpy(image.data() + 60, &far, 4);  // a header offset beyond the image
  EXPECT_EQ(FindKernel32Ordinal(image.data(), image.size(), 1), nullptr);
  image = Image({0xFFFFFF});  // an entry beyond the image
  EXPECT_EQ(FindKernel32Ordinal(image.data(), image.size(), 1), nullptr);
  EXPECT_EQ(FindKernel32Ordinal(image.data(), 32, 1), nullptr);
  EXPECT_EQ(FindKernel32Ordinal(nullptr, 0, 1), nullptr);
}

TEST(DriverRecords, TheCommandBufferLiesAtItsOffsets) {
  CallingInterfaceRequest request{};
  request.stCmdBuf.cbClass = 17;
  request.stCmdBuf.u32Res[1] = 0x38;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&request);
  EXPECT_EQ(bytes[6], 17);
  EXPECT_EQ(bytes[30], 0x38);  // u32Res[1] at 26 + 4
}

}  // namespace
}  // namespace kvx
