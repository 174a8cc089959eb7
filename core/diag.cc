#include "core/diag.h"

#include <cstdarg>

namespace kvx {

void Diag(DebugOutput& out, const char* layout, ...) {
  va_list args;
  va_start(args, layout);
  std::string text = VFormat(layout, args);
  va_end(args);
  out.Write(text);
}

}  // namespace kvx
