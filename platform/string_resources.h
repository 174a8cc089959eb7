#pragma once
#include <string>

namespace kvx {

// The program's string table, in the language that the platform picks for
// the running thread.
class StringResources {
 public:
  virtual ~StringResources() = default;
  // The text of string `id`, or empty when the table has none.
  virtual std::string Load(int id) = 0;
};

}  // namespace kvx
