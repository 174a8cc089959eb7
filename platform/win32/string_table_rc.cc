// string_table_rc: writes the program's string table (platform/string_table.cc)
// as the resource script of the Windows build, so that the executable's
// STRINGTABLE and the POSIX build's texts can never differ. Built and run
// on the build machine.
//
// Usage: string_table_rc OUTPUT.rc
//
// Every text goes into a wide string with each character outside printable
// ASCII, and the quotation mark and backslash, written as a four-digit
// escape: the resource compiler then reads the script the same in any code
// page (windres misreads UTF-8 inside wide strings).
#include <cstdio>
#include <string>

#include "core/utf.h"
#include "platform/string_table.h"

namespace {

std::string RcWideString(const char* utf8) {
  std::string out = "L\"";
  for (char16_t unit : kvx::Utf8ToUtf16(utf8)) {
    if (unit >= 0x20 && unit < 0x7F && unit != u'"' && unit != u'\\') {
      out += static_cast<char>(unit);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%04x", static_cast<unsigned>(unit));
      out += buf;
    }
  }
  return out + "\"";
}

std::string Script() {
  std::string rc = "// Generated from platform/string_table.cc by string_table_rc.\n";
  for (int lang : kvx::StringTableLanguages()) {
    char header[96];
    // A language id is its primary language in the low ten bits and its
    // sublanguage above them.
    std::snprintf(header, sizeof header, "\nLANGUAGE 0x%02x, 0x%02x\nSTRINGTABLE\nBEGIN\n",
                  lang & 0x3FF, lang >> 10);
    rc += header;
    for (int id = kvx::kFirstStringId; id <= kvx::kLastStringId; ++id) {
      if (const char* text = kvx::StringTableText(lang, id))
        rc += "  " + std::to_string(id) + ", " + RcWideString(text) + "\n";
    }
    rc += "END\n";
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: string_table_rc OUTPUT.rc\n", stderr);
    return 1;
  }
  // Written beside its final name and renamed over it.
  const std::string target = argv[1];
  const std::string temp = target + ".tmp";
  const std::string rc = Script();
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) {
    std::perror(temp.c_str());
    return 1;
  }
  const bool written = std::fwrite(rc.data(), 1, rc.size(), f) == rc.size();
  if (std::fclose(f) != 0 || !written || std::rename(temp.c_str(), target.c_str()) != 0) {
    std::perror(target.c_str());
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}
