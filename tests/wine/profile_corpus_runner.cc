#include "tests/wine/profile_corpus_runner.h"

#include <sstream>
#include <vector>

#include "core/utf.h"
#include "tests/wine/corpus_format.h"

namespace kvx {

namespace {

std::string Hex(const std::u16string& units) {
  return corpus::HexUnits(units.data(), units.size());
}

// The first `n` units of a buffer of `size` that holds `written`, the rest
// still holding the helper's fill value.
std::u16string BufferView(std::u16string written, size_t size, size_t n) {
  written.resize(size, 0x5A5A);
  return written.substr(0, n);
}

}  // namespace

void RunProfileCorpus(const std::string& text, PrivateProfile& profile, const CorpusFiles& files) {
  std::istringstream in(text);
  std::string line, file, records_path;
  std::string content;  // what the case's file was last made of
  std::ostringstream records;
  auto end_case = [&] {
    if (file.empty()) return;
    profile.Flush(file);
    files.write(records_path, records.str());
    records.str("");
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = corpus::Split(line);
    auto arg = [&](size_t i) { return i < f.size() ? corpus::Unescape(f[i]) : std::string(); };
    const std::string& op = f[0];
    if (op == "case") {
      end_case();
      file = files.path(f[1], ".ini");
      records_path = files.path(f[1], ".txt");
      files.remove(file);
    } else if (op == "u16") {
      profile.Flush(file);
      content = "\xFF\xFE" + EncodeUtf16Bytes(Utf8ToUtf16(arg(1)));
      files.write(file, content);
    } else if (op == "u8") {
      profile.Flush(file);
      content = "\xEF\xBB\xBF" + arg(1);
      files.write(file, content);
    } else if (op == "raw") {
      profile.Flush(file);
      content = arg(1);
      files.write(file, content);
    } else if (op == "repeat") {
      profile.Flush(file);
      const std::string text = arg(2);
      for (unsigned long i = std::stoul(f[1]); i > 0; --i) content += text;
      files.write(file, content);
    } else if (op == "ws") {
      records << "ws " << (profile.WriteString(arg(1), arg(2), arg(3), file) ? 1 : 0) << "\n";
    } else if (op == "rs") {
      const uint32_t size = static_cast<uint32_t>(std::stoul(f[4]));
      std::u16string written;
      const uint32_t n = profile.GetString(arg(1), arg(2), arg(3), written, size, file);
      if (size) written.push_back(0);
      records << "rs " << n << "\t"
              << Hex(BufferView(written, size, size ? (n + 1 < size ? n + 1 : size) : 0)) << "\n";
    } else if (op == "ri") {
      records << "ri " << static_cast<int>(profile.GetInt(arg(1), arg(2), std::stoi(f[3]), file))
              << "\n";
    } else if (op == "u8to16" || op == "u16to8") {
      const std::string bytes = corpus::FromHex(f[1]);
      if (op == "u8to16") {
        records << "u8to16 " << Hex(Utf8ToUtf16(bytes)) << "\n";
      } else {
        records << "u16to8 " << corpus::HexBytes(Utf16ToUtf8(DecodeUtf16Bytes(bytes))) << "\n";
      }
    } else if (op == "sn") {
      const uint32_t size = static_cast<uint32_t>(std::stoul(f[1]));
      std::u16string buf;
      const uint32_t n = profile.GetSectionNames(buf, size, file);
      records << "sn " << n << "\t"
              << Hex(BufferView(buf, size, size ? (n + 2 < size ? n + 2 : size) : 0)) << "\n";
    }
  }
  end_case();
}

}  // namespace kvx
