// Runs a corpus of private-profile operations through the Windows profile
// functions and records what they left: the differential reference for the
// POSIX profile implementation (built with mingw-w64, run under Wine).
//
// Usage: profile_ops CORPUS OUTDIR
// The corpus is UTF-8, one operation per line, fields separated by tabs:
//   case NAME          starts a case on the file OUTDIR\NAME.ini
//   u16 TEXT           the case's file: FF FE and TEXT in UTF-16LE
//   u8 TEXT            the case's file: EF BB BF and TEXT in UTF-8
//   raw TEXT           the case's file: TEXT's UTF-8 bytes, no mark
//   repeat N TEXT      appends TEXT's UTF-8 bytes N times to the case's file
//   ws S K V           WritePrivateProfileStringW (a field "\N" is null)
//   rs S K DEF SIZE    GetPrivateProfileStringW, records count and text
//   ri S K DEF         GetPrivateProfileIntW, records the value
//   sn SIZE            GetPrivateProfileSectionNamesW, records count and text
//   u8to16 HEX         MultiByteToWideChar(CP_UTF8) of the bytes, records the text
//   u16to8 HEX         WideCharToMultiByte(CP_UTF8) of the UTF-16LE bytes, records them
// Results go to OUTDIR\NAME.txt, one line per read: the count, a tab, and
// the buffer's UTF-16 units up to the count plus one, as hex.
#include <windows.h>

#include "corpus_format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring Widen(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 1;
  std::ifstream corpus(argv[1], std::ios::binary);
  const std::wstring outdir = argv[2];
  std::wstring file;
  std::FILE* results = nullptr;
  std::string line;
  while (std::getline(corpus, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = corpus::Split(line);
    // Null fields stay null; others are unescaped and widened.
    auto arg = [&](size_t i, std::wstring& store) -> const wchar_t* {
      if (i >= f.size()) return L"";
      if (f[i] == "\\N") return nullptr;
      store = Widen(corpus::Unescape(f[i]));
      return store.c_str();
    };
    const std::string& op = f[0];
    if (op == "case") {
      if (results) std::fclose(results);
      file = outdir + L"\\" + Widen(f[1]) + L".ini";
      DeleteFileW(file.c_str());
      results = _wfopen((outdir + L"\\" + Widen(f[1]) + L".txt").c_str(), L"wb");
    } else if (op == "u16" || op == "u8" || op == "raw") {
      std::FILE* out = _wfopen(file.c_str(), L"wb");
      const std::string text = corpus::Unescape(f.size() > 1 ? f[1] : "");
      if (op == "u16") {
        const std::wstring w = Widen(text);
        std::fwrite("\xFF\xFE", 1, 2, out);
        std::fwrite(w.data(), 2, w.size(), out);
      } else {
        if (op == "u8") std::fwrite("\xEF\xBB\xBF", 1, 3, out);
        std::fwrite(text.data(), 1, text.size(), out);
      }
      std::fclose(out);
    } else if (op == "repeat") {
      std::FILE* out = _wfopen(file.c_str(), L"ab");
      const std::string text = corpus::Unescape(f.size() > 2 ? f[2] : "");
      for (unsigned long i = std::strtoul(f[1].c_str(), nullptr, 10); i > 0; --i)
        std::fwrite(text.data(), 1, text.size(), out);
      std::fclose(out);
    } else if (op == "ws") {
      std::wstring s, k, v;
      const wchar_t* ps = arg(1, s);
      const wchar_t* pk = arg(2, k);
      const wchar_t* pv = arg(3, v);
      const BOOL ok = WritePrivateProfileStringW(ps, pk, pv, file.c_str());
      std::fprintf(results, "ws %d\n", ok ? 1 : 0);
    } else if (op == "rs") {
      std::wstring s, k, d;
      const wchar_t* ps = arg(1, s);
      const wchar_t* pk = arg(2, k);
      const wchar_t* pd = arg(3, d);
      const DWORD size = static_cast<DWORD>(std::atoi(f[4].c_str()));
      std::vector<wchar_t> buf(size + 8, 0x5A5A);
      const DWORD n = GetPrivateProfileStringW(ps, pk, pd, buf.data(), size, file.c_str());
      std::fprintf(results, "rs %lu\t%s\n", static_cast<unsigned long>(n),
                   corpus::HexUnits(buf.data(), size ? (n + 1 < size ? n + 1 : size) : 0).c_str());
    } else if (op == "ri") {
      std::wstring s, k;
      const wchar_t* ps = arg(1, s);
      const wchar_t* pk = arg(2, k);
      const UINT n = GetPrivateProfileIntW(ps, pk, std::atoi(f[3].c_str()), file.c_str());
      std::fprintf(results, "ri %d\n", static_cast<int>(n));
    } else if (op == "u8to16" || op == "u16to8") {
      const std::string bytes = corpus::FromHex(f.size() > 1 ? f[1] : "");
      if (op == "u8to16") {
        const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                          nullptr, 0);
        std::wstring w(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(), n);
        std::fprintf(results, "u8to16 %s\n", corpus::HexUnits(w.data(), w.size()).c_str());
      } else {
        std::wstring w(bytes.size() / 2, L'\0');
        std::memcpy(w.data(), bytes.data(), w.size() * 2);
        const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                          0, nullptr, nullptr);
        std::string out(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                            nullptr);
        std::fprintf(results, "u16to8 %s\n", corpus::HexBytes(out).c_str());
      }
    } else if (op == "sn") {
      const DWORD size = static_cast<DWORD>(std::atoi(f[1].c_str()));
      std::vector<wchar_t> buf(size + 8, 0x5A5A);
      const DWORD n = GetPrivateProfileSectionNamesW(buf.data(), size, file.c_str());
      std::fprintf(results, "sn %lu\t%s\n", static_cast<unsigned long>(n),
                   corpus::HexUnits(buf.data(), size ? (n + 2 < size ? n + 2 : size) : 0).c_str());
    }
  }
  if (results) std::fclose(results);
  return 0;
}
