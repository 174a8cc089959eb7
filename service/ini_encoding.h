#pragma once
// The bridges between the account files on the flash (UTF-8 with the mark
// EF BB BF) and the UTF-16 working copies (mark FF FE) that the profile
// functions edit, and the chunked copy that moves them. The converters
// handle files below 1 MiB only. Every file they write replaces the old
// one whole or not at all. What the converters write are working copies,
// which the run removes again: they are left to the system's cache.
#include <string>

#include "core/tool_context.h"
#include "core/whole_file.h"

namespace kvx {

inline constexpr uint64_t kMaxConvertedFile = 1u << 20;

// Rewrites a UTF-16 file (mark FF FE, or FE FF for big-endian) as UTF-8
// with its mark. False, the file untouched, for anything else.
bool ConvertIniToUtf8(ToolContext& ctx, const std::string& path);

// Writes `target` (which may be `source`) as FF FE and the UTF-16 of the
// UTF-8 `source` (its mark, if any, left out). False for an empty, large or
// unreadable source, or when the text cannot be written.
// `unwritable` as for CopyUtf8AsUnicode below.
bool ConvertUtf8ToUnicode(ToolContext& ctx, const std::string& source, const std::string& target,
                          bool* unwritable = nullptr);

// As ConvertUtf8ToUnicode, but the target is deleted first, and the result
// is true once the target was created. `unwritable`, when given, says
// whether a source that was read could not be written to the target (a
// full temp folder), as opposed to a source the converter does not take.
bool CopyUtf8AsUnicode(ToolContext& ctx, const std::string& source, const std::string& target,
                       bool* unwritable = nullptr);

// Creates `path` anew holding only the mark FF FE.
bool CreateUnicodeIni(ToolContext& ctx, const std::string& path);

// Copies `source` to `destination` in 1 MiB chunks. False when either file
// cannot be opened (`error` then holds the system's error, for instance
// kErrorAccessDenied for a read-only destination), and when the copy could
// not be completed, in which case the destination keeps its old content.
// The copy reaches the device (Durability::kDevice) unless told it is only
// a working copy.
bool CopyFileBuffered(ToolContext& ctx, const std::string& source, const std::string& destination,
                      int* error = nullptr, Durability durability = Durability::kDevice);

}  // namespace kvx
