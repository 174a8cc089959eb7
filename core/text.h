#pragma once
// Comparisons of the tool's own texts. "Without regard to case" folds the
// letters A to Z only, as the run-time's comparison does in the C locale.
#include <string>
#include <string_view>

namespace kvx {

bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// `s` with A to Z turned to a to z.
std::string ToLowerAscii(std::string_view s);
// `s` with a to z turned to A to Z.
std::string ToUpperAscii(std::string_view s);

}  // namespace kvx
