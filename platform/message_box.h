#pragma once
#include <string>

namespace kvx {

// A modal message with an OK button and no owner window: the call returns
// once the user has closed it.
class MessageBox {
 public:
  virtual ~MessageBox() = default;
  virtual void Show(const std::string& text, const std::string& caption) = 0;
};

}  // namespace kvx
