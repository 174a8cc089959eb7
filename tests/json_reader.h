#pragma once
// A small JSON reader for the tests that check what the programs print:
// the whole document is parsed, so that a listing that is not valid JSON
// fails the test.
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kvx::testing {

struct JsonNode {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonNode> items;                 // kArray
  std::vector<std::string> keys;                // kObject, in document order
  std::map<std::string, JsonNode> members;     // kObject

  // The member `key` of an object; a null value when there is none.
  const JsonNode& operator[](const std::string& key) const;
  bool is_null() const { return kind == kNull; }
};

// Parses `text` as one JSON document (white space around it allowed).
// False, with `error` saying where, when it is not valid JSON.
bool ParseJson(const std::string& text, JsonNode& out, std::string& error);

}  // namespace kvx::testing
