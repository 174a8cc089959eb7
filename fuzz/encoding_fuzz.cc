// The UTF conversions and the INI file encodings. Properties: well-formed
// UTF-8 survives UTF-16 and back unchanged; any text converts to
// well-formed UTF-8 and UTF-16 whose conversion back is the same; UTF-16
// bytes decode and encode back to the same bytes in either order; the
// working copy of a UTF-8 account file converts back to the same file; a
// buffered copy is the source byte for byte.
#include <string>

#include "core/utf.h"
#include "fuzz/fuzz_support.h"
#include "service/ini_encoding.h"

namespace kvx::fuzz {
namespace {

void CheckConversions(const std::string& text) {
  const std::u16string wide = Utf8ToUtf16(text);
  const std::string back = Utf16ToUtf8(wide);
  Require(Utf16Length(text) == wide.size(), "the UTF-16 length is that of the conversion");
  Require(IsWellFormedUtf16(wide), "UTF-8 converts to well-formed UTF-16");
  Require(IsWellFormedUtf8(back), "UTF-16 converts to well-formed UTF-8");
  Require(Utf8ToUtf16(back) == wide, "the conversion of converted text is stable");
  if (IsWellFormedUtf8(text)) Require(back == text, "well-formed UTF-8 round-trips through UTF-16");

  // The same bytes read as UTF-16, in both byte orders.
  const size_t even = text.size() & ~size_t{1};
  for (const bool le : {true, false}) {
    const std::u16string units = DecodeUtf16Bytes(text, le);
    Require(units.size() == text.size() / 2, "two bytes make one unit, an odd last one is dropped");
    Require(EncodeUtf16Bytes(units, le) == text.substr(0, even), "UTF-16 bytes round-trip");
    const std::string narrow = Utf16ToUtf8(units);
    Require(IsWellFormedUtf8(narrow), "any UTF-16 converts to well-formed UTF-8");
    if (IsWellFormedUtf16(units))
      Require(Utf8ToUtf16(narrow) == units, "well-formed UTF-16 round-trips through UTF-8");
  }

  size_t pos = 0, count = 0;
  while (pos < text.size()) {
    const size_t before = pos;
    DecodeUtf8(text, pos);
    Require(pos > before && pos <= text.size(), "decoding always advances within the text");
    ++count;
  }
  Require(count <= wide.size(), "each decoded code point gives one or two units");
}

void CheckIniFiles(const std::string& bytes) {
  FuzzVolume& volume = FuzzVolume::Shared();
  volume.Reset();
  ToolContext& ctx = volume.ctx();
  volume.Put("source.ini", bytes);

  // A buffered copy is the source, whatever it holds.
  Require(CopyFileBuffered(ctx, "~:\\source.ini", "~:\\copy.ini"), "a readable file copies");
  Require(volume.Get("copy.ini") == bytes, "a buffered copy is the source byte for byte");

  const bool marked = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  const std::string text = bytes.substr(marked ? 3 : 0);
  const bool converted = ConvertUtf8ToUnicode(ctx, "~:\\source.ini", "~:\\work.ini");
  if (text.empty() || bytes.size() >= kMaxConvertedFile || !IsWellFormedUtf8(text)) return;
  Require(converted, "a well-formed UTF-8 file gets a working copy");
  Require(volume.Get("work.ini") == "\xFF\xFE" + EncodeUtf16Bytes(Utf8ToUtf16(text)),
          "the working copy is the mark FF FE and the text's UTF-16");
  Require(ConvertIniToUtf8(ctx, "~:\\work.ini"), "a working copy converts back");
  Require(volume.Get("work.ini") == "\xEF\xBB\xBF" + text,
          "a UTF-8 file comes back from its working copy as it was, with its mark");
  Require(volume.Get("source.ini") == bytes, "the conversion leaves its source alone");
}

}  // namespace

void CheckInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckConversions(bytes);
  CheckIniFiles(bytes);
}

}  // namespace kvx::fuzz
