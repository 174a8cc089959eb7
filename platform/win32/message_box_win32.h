#pragma once
#include "platform/message_box.h"

namespace kvx {

// MessageBoxW with an OK button and no owner window. Default-constructible.
class Win32MessageBox : public MessageBox {
 public:
  void Show(const std::string& text, const std::string& caption) override;
};

}  // namespace kvx
