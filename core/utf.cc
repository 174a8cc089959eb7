#include "core/utf.h"

namespace kvx {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }
}  // namespace

char32_t DecodeUtf8(std::string_view s, size_t& pos) {
  const unsigned char c = static_cast<unsigned char>(s[pos]);
  if (c < 0x80) {
    ++pos;
    return c;
  }
  int need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    ++pos;
    return kReplacement;
  }
  size_t i = pos + 1;
  for (int k = 0; k < need; ++k, ++i) {
    if (i >= s.size()) {
      pos = i;
      return kReplacement;
    }
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (!IsContinuation(b)) {
      pos = i;  // the ill-formed part ends before a byte that is no continuation
      return kReplacement;
    }
    if (k == 0 && (b < lo || b > hi)) {
      pos = i + 1;  // a continuation out of the lead's range goes with the lead
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  pos = i;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = DecodeUtf8(utf8, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = kReplacement;
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::string EncodeUtf16Bytes(std::u16string_view text, bool little_endian) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t u : text) {
    const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
    out += little_endian ? lo : hi;
    out += little_endian ? hi : lo;
  }
  return out;
}

std::u16string DecodeUtf16Bytes(std::string_view bytes, bool little_endian) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned a = static_cast<unsigned char>(bytes[i]);
    const unsigned b = static_cast<unsigned char>(bytes[i + 1]);
    out += static_cast<char16_t>(little_endian ? (a | (b << 8)) : ((a << 8) | b));
  }
  return out;
}

std::string Utf16FieldText(std::string_view bytes) {
  const std::u16string units = DecodeUtf16Bytes(bytes);
  return Utf16ToUtf8(std::u16string_view(units).substr(0, units.find(u'\0')));
}

size_t Utf16Length(std::string_view utf8) {
  size_t n = 0, pos = 0;
  while (pos < utf8.size()) n += DecodeUtf8(utf8, pos) >= 0x10000 ? 2 : 1;
  return n;
}

}  // namespace kvx
