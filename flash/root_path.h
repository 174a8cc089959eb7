#pragma once
// Discovery of the two roots of the flash volume: the data root (account
// folders) and the system root (persistent settings, command stores). The
// index file "\quarle.idx" at the volume's top names them on its lines 3
// and 2; the folders "\QUARLE.000" and "\QUARLE.SYS" are the fallbacks.
#include <string>

#include "core/tool_context.h"

namespace kvx {

// The longest root the callers' 256-character buffers hold.
inline constexpr size_t kMaxRootLength = 255;

// On entry `path` holds the flash root. True, with `path` replaced by the
// folder that line `line_number` of the index file names, when that folder
// exists and fits kMaxRootLength; false with `path` unchanged otherwise.
bool GetRootPathFromIdx(ToolContext& ctx, int line_number, std::string& path);

// True, with `path` replaced by `path` + `fallback`, when that exists and
// fits kMaxRootLength; false with `path` unchanged otherwise.
bool GetRootPathFromMarker(ToolContext& ctx, const std::string& fallback, std::string& path);

// The data root (line 3, "\QUARLE.000"); on failure `out` is the flash root.
bool GetRootPathFromDataPath(ToolContext& ctx, std::string& out);
// The system root (line 2, "\QUARLE.SYS"); on failure `out` is the flash root.
bool GetRootPathFromSysPath(ToolContext& ctx, std::string& out);

}  // namespace kvx
