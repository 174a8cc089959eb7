#include "fuzz/fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>


namespace kvx::fuzz {

void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property does not hold: %s\n", property);
  std::fflush(stderr);
  std::abort();
}

std::string InputReader::Take(size_t n) {
  n = std::min(n, rest_.size());
  std::string field(rest_.substr(0, n));
  rest_.remove_prefix(n);
  return field;
}

uint8_t InputReader::Byte() {
  const std::string b = Take(1);
  return b.empty() ? 0 : static_cast<uint8_t>(b[0]);
}

std::string InputReader::Short() { return Take(Byte()); }

std::string InputReader::Long() {
  const size_t low = Byte();
  return Take(low | (static_cast<size_t>(Byte()) << 8));
}

std::string InputReader::Rest() { return Take(rest_.size()); }

bool IsWellFormedUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n;
    char32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (text.size() - i <= n) return false;
    for (size_t k = 1; k <= n; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

bool IsWellFormedUtf16(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xDC00 && u <= 0xDFFF) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

namespace {
FuzzVolume* g_shared_volume = nullptr;  // once a target asked for it
}  // namespace

FuzzVolume& FuzzVolume::Shared() {
  static FuzzVolume volume;  // its folders go at the process's end
  g_shared_volume = &volume;
  return volume;
}

FuzzVolume::FuzzVolume() { testing::MakeDirs(machine_ / "temp"); }

void FuzzVolume::Reset() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(volume_.path(), ec))
    testing::RemoveTree(entry.path());
  Forget();
}

void FuzzVolume::Forget() {
  debug_.lines.clear();
  flash_.calls.clear();
  message_box_.shown.clear();
  state_.flash_root = "~:";
  state_.copy_total = state_.copy_done = 0;
}

}  // namespace kvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvx::fuzz::CheckInput(data, size);
  if (kvx::fuzz::g_shared_volume != nullptr) kvx::fuzz::g_shared_volume->Forget();
  return 0;
}
