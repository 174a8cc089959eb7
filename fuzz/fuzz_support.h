#pragma once
// What every fuzz target shares: the failure of a property, an input cut
// into fields, an independent UTF-8 check, and a flash volume on the real
// POSIX platform layer for the targets that drive the tool's logic.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/flash_fixture.h"

namespace kvx::fuzz {

// Ends the run when a property does not hold: the message names the
// property, and abort() makes libFuzzer keep the input and the replay fail.
void Require(bool holds, const char* property);

// Takes fields from the front of an input; once it is used up every field
// is empty, so a short input is still a valid one.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  uint8_t Byte();
  // A field whose length is the next byte.
  std::string Short();
  // A field whose length is the next two bytes, little-endian.
  std::string Long();
  std::string Rest();
  bool empty() const { return rest_.empty(); }

 private:
  std::string Take(size_t n);
  std::string_view rest_;
};

// Whether `text` is well-formed UTF-8: shortest forms only, no surrogates,
// nothing above U+10FFFF. Written apart from the program's converters so
// that it can judge them.
bool IsWellFormedUtf8(std::string_view text);

// Whether `text` holds no unpaired surrogate.
bool IsWellFormedUtf16(std::u16string_view text);

// The flash volume of the unit tests (a machine folder whose drive "~" is
// an empty volume folder, the real POSIX file system, profile functions and
// libxml2 services over it, recording fakes for the rest, the flash root
// "~:"), one per process: the targets empty it between inputs.
class FuzzVolume : public testing::FlashFixture {
 public:
  static FuzzVolume& Shared();

  // Removes everything on the volume and forgets the state of the last run.
  void Reset();
  // Forgets what the last input recorded (debugger lines, messages shown,
  // the tool's state), so that each input frees what it allocated: an
  // input that leaves more allocations than it frees makes libFuzzer run
  // it again under a full leak scan.
  void Forget();
  using FlashFixture::Get;
  using FlashFixture::Put;
  using FlashFixture::Vol;
  const std::string& machine_folder() const { return machine_.path(); }
  ToolContext& ctx() { return ctx_; }
  PathMap& paths() { return paths_; }

 private:
  FuzzVolume();
  void TestBody() override {}
};

// Each target defines the checks of one input; the fuzzer's entry and the
// replay hand every input to it.
void CheckInput(const uint8_t* data, size_t size);

}  // namespace kvx::fuzz
