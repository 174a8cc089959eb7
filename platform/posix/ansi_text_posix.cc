#include "platform/posix/ansi_text_posix.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cctype>

#include "core/utf.h"
#include "platform/posix/locale_env.h"

namespace kvx {

namespace {

bool IsUtf8Name(const std::string& codeset) {
  std::string n;
  for (char c : codeset)
    if (c != '-' && c != '_') n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return n == "utf8";
}

}  // namespace

std::string CodesetForLocale(const std::string& name) {
  if (locale_t loc = newlocale(LC_CTYPE_MASK, name.c_str(), static_cast<locale_t>(0))) {
    std::string codeset = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    if (!codeset.empty()) return codeset;
  }
  const size_t dot = name.find('.');
  if (dot != std::string::npos) {
    std::string codeset = name.substr(dot + 1, name.find('@', dot) - dot - 1);
    if (!codeset.empty()) return codeset;
  }
  return "ANSI_X3.4-1968";
}

std::string ConvertToCodeset(std::string_view utf8, const std::string& codeset) {
  if (IsUtf8Name(codeset)) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size());
  iconv_t cd = iconv_open(codeset.c_str(), "UTF-8");
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t start = pos;
    const char32_t cp = DecodeUtf8(utf8, pos);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    bool mapped = false;
    if (cd != reinterpret_cast<iconv_t>(-1) && cp != 0xFFFD) {
      std::string in(utf8.substr(start, pos - start));
      char buf[16];
      char* inp = in.data();
      size_t inleft = in.size();
      char* outp = buf;
      size_t outleft = sizeof buf;
      if (iconv(cd, &inp, &inleft, &outp, &outleft) != static_cast<size_t>(-1) && inleft == 0) {
        out.append(buf, static_cast<size_t>(outp - buf));
        mapped = true;
      }
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    if (!mapped) out += '?';
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return out;
}

PosixAnsiText::PosixAnsiText()
    : codeset_(CodesetForLocale(LocaleNameFor("LC_CTYPE"))), utf8_(IsUtf8Name(codeset_)) {}

std::string PosixAnsiText::FromUtf8(std::string_view utf8) {
  return ConvertToCodeset(utf8, codeset_);
}

}  // namespace kvx
