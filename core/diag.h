#pragma once
#include "core/format.h"
#include "platform/debug_output.h"

namespace kvx {

// Formats one diagnostic message with a printf layout and sends it to the
// debugger output stream as one text.
void Diag(DebugOutput& out, const char* layout, ...) __attribute__((format(printf, 2, 3)));

}  // namespace kvx
