#pragma once
#include "platform/message_box.h"

namespace kvx {

// The message box on a console: caption and text on standard error, then,
// only when standard input is a terminal, a wait for Enter. A script is
// never kept waiting.
class PosixMessageBox : public MessageBox {
 public:
  void Show(const std::string& text, const std::string& caption) override;
};

}  // namespace kvx
