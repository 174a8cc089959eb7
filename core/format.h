#pragma once
// printf-style formatting into std::string: the layouts of every diagnostic
// and history text are printf layouts, so one formatter serves them all.
#include <cstdarg>
#include <string>

namespace kvx {

// Formats like vsnprintf, without a length limit.
std::string VFormat(const char* layout, va_list args);

// Formats like snprintf, without a length limit.
std::string Format(const char* layout, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kvx
