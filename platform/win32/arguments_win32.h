#pragma once
// The wide command line of a Windows program as the UTF-8 text the tool
// works with.
#include <string>
#include <vector>

namespace kvx {

// `argv[0]` to `argv[argc - 1]`, each converted from UTF-16; an unpaired
// surrogate becomes U+FFFD, as the system's own conversion does.
std::vector<std::string> Utf8Arguments(int argc, const wchar_t* const* argv);

}  // namespace kvx
