#pragma once
// The text format of the differential corpus, shared by the Windows helper
// (built with mingw-w64) and the POSIX side of the test, so that both read
// the operations and write the records alike.
#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace corpus {

// Undoes the escapes \t \n \r \\ and \xHH (any byte, NUL included) of a
// field.
inline std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else if (s[i] == '\\' && i + 1 < s.size()) {
      const char c = s[++i];
      out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The tab-separated fields of a line.
inline std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

// 16-bit units as four hex digits each.
template <typename Unit>
std::string HexUnits(const Unit* p, size_t n) {
  std::string out;
  char buf[8];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%04x", static_cast<unsigned>(p[i]) & 0xFFFF);
    out += buf;
  }
  return out;
}

// Bytes as two hex digits each.
inline std::string HexBytes(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

// The bytes that a field of hex digits spells.
inline std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace corpus
