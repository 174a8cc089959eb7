#pragma once
// Conversion between the program's UTF-8 text and UTF-16, with the
// behaviour of the Windows conversion functions on invalid input: an
// ill-formed part of UTF-8 becomes one U+FFFD (a lead byte with the
// continuations that fit it; a continuation byte outside the range its lead
// allows goes with the lead; a stray byte alone), and every unpaired
// surrogate of UTF-16 becomes U+FFFD.
#include <string>
#include <string_view>

namespace kvx {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The length of the text in UTF-16 code units: the unit in which the
// Windows limits (260-character paths, 256-character buffers) count.
size_t Utf16Length(std::string_view utf8);

// UTF-16 text as bytes, little-endian or big-endian, without a mark.
std::string EncodeUtf16Bytes(std::u16string_view text, bool little_endian = true);
// Bytes as UTF-16 text; an odd last byte is ignored.
std::u16string DecodeUtf16Bytes(std::string_view bytes, bool little_endian = true);

// The text of a zero-terminated UTF-16LE field of shared memory: its units
// up to the first zero unit, or all of them when none is zero.
std::string Utf16FieldText(std::string_view bytes);

// Decodes one code point at `pos`, advancing `pos`; an ill-formed
// subsequence decodes as U+FFFD and is consumed whole.
char32_t DecodeUtf8(std::string_view utf8, size_t& pos);

// Appends the UTF-8 encoding of `cp`.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace kvx
