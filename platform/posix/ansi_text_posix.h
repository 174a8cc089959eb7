#pragma once
#include <string>

#include "platform/ansi_text.h"

namespace kvx {

// The character set of the locale named `locale_name`: the one the system
// gives for it when the locale is installed, otherwise the one the name
// spells ("de_DE.ISO-8859-1"), otherwise ASCII ("C").
std::string CodesetForLocale(const std::string& locale_name);

// UTF-8 text in `codeset`, each character without a mapping as "?".
std::string ConvertToCodeset(std::string_view utf8, const std::string& codeset);

// The narrow text of the process's LC_CTYPE locale.
class PosixAnsiText : public AnsiText {
 public:
  PosixAnsiText();
  std::string FromUtf8(std::string_view utf8) override;
  bool IsUtf8() override { return utf8_; }

 private:
  std::string codeset_;
  bool utf8_;
};

}  // namespace kvx
