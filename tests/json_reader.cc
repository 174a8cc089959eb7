#include "tests/json_reader.h"

#include <cstdlib>

namespace kvx::testing {

namespace {

class Parser {
 public:
  explicit Parser(const std::string& t) : t_(t) {}

  bool Document(JsonNode& out, std::string& error) {
    const bool ok = Value(out) && (Space(), i_ == t_.size());
    if (!ok) error = "not JSON at byte " + std::to_string(i_);
    return ok;
  }

 private:
  void Space() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t')) ++i_;
  }
  bool Take(char c) {
    Space();
    if (i_ < t_.size() && t_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Word(const char* w) {
    const std::string s(w);
    if (t_.compare(i_, s.size(), s) != 0) return false;
    i_ += s.size();
    return true;
  }
  static void Utf8(unsigned cp, std::string& out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (i_ < t_.size() && t_[i_] != '"') {
      const unsigned char c = static_cast<unsigned char>(t_[i_++]);
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (i_ >= t_.size()) return false;
      const char e = t_[i_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (i_ + 4 > t_.size()) return false;
          char* end = nullptr;
          const std::string hex = t_.substr(i_, 4);
          const unsigned cp = static_cast<unsigned>(std::strtoul(hex.c_str(), &end, 16));
          if (end != hex.c_str() + 4) return false;
          i_ += 4;
          Utf8(cp, out);
          break;
        }
        default: return false;
      }
    }
    return i_++ < t_.size();
  }
  bool Value(JsonNode& v) {
    Space();
    if (i_ >= t_.size()) return false;
    const char c = t_[i_];
    if (c == '{') {
      ++i_;
      v.kind = JsonNode::kObject;
      if (Take('}')) return true;
      do {
        std::string key;
        JsonNode member;
        Space();
        if (!String(key) || !Take(':') || !Value(member) || v.members.count(key)) return false;
        v.keys.push_back(key);
        v.members.emplace(key, std::move(member));
      } while (Take(','));
      return Take('}');
    }
    if (c == '[') {
      ++i_;
      v.kind = JsonNode::kArray;
      if (Take(']')) return true;
      do {
        v.items.emplace_back();
        if (!Value(v.items.back())) return false;
      } while (Take(','));
      return Take(']');
    }
    if (c == '"') {
      v.kind = JsonNode::kString;
      return String(v.text);
    }
    if (Word("null")) return true;
    if (Word("true") || Word("false")) {
      v.kind = JsonNode::kBool;
      v.boolean = t_[i_ - 1] == 'e' && t_[i_ - 2] == 'u';
      return true;
    }
    const char* start = t_.c_str() + i_;
    char* end = nullptr;
    v.number = std::strtod(start, &end);
    if (end == start) return false;
    v.kind = JsonNode::kNumber;
    i_ += static_cast<size_t>(end - start);
    return true;
  }

  const std::string& t_;
  size_t i_ = 0;
};

}  // namespace

const JsonNode& JsonNode::operator[](const std::string& key) const {
  static const JsonNode null;
  const auto it = members.find(key);
  return it == members.end() ? null : it->second;
}

bool ParseJson(const std::string& text, JsonNode& out, std::string& error) {
  out = JsonNode();
  return Parser(text).Document(out, error);
}

}  // namespace kvx::testing
