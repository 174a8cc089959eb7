#pragma once
// JSON text for the documents the programs print: the tool's listing of
// the flash module and the emulated machine's state.
#include <string>
#include <string_view>

namespace kvx {

// `s` as a JSON string, quotation marks included: the quotation mark and
// the backslash escaped, control characters as \u00XX, everything else
// (UTF-8 included) as it stands.
std::string JsonString(std::string_view s);

}  // namespace kvx
