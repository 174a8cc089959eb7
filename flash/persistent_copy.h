#pragma once
// Copies between the PC and the flash volume, and the clearing of account
// folders: the copyPersistentData mode and action, the reset of an account
// from the persistent-settings folder, and the emptying of a folder tree.
#include <cstdint>
#include <string>

#include "core/tool_context.h"
#include "core/whole_file.h"

namespace kvx {

inline constexpr const char* kProgressMappingName = "Global\\VeskQZRGlobalShareMemory";
inline constexpr size_t kProgressViewSize = 1024;

// The copies below write every file beside its final name and rename it
// over it, so a file that cannot be copied whole keeps its old content;
// files an interrupted run left beside their names are removed from the
// destination folder and never copied. A copy whose destination folder is
// its source folder, by whatever spelling, is refused and touches nothing.

// The copyPersistentData mode: inside a flash cycle of its own, copies
// every file of the user subfolder into `folder` and publishes the
// progress. True only when the cycle opened, the user folder was found and
// every file was copied whole.
bool CopyPersistentData(ToolContext& ctx, const std::string& folder);

// The copyPersistentData action: copies the tool's own folder, but for
// schema, XML, program and log files, into the user subfolder. True when
// both folders were found and every file was copied whole.
bool DoCopyPersistentData(ToolContext& ctx, const std::string& account);

// The resetUser action: resets the account's INI file and fills its folder
// from the persistent-settings folder. True when the persistent-settings
// folder was found and the INI file and every file were written whole.
bool DoResetUserCmd(ToolContext& ctx, const std::string& account);

// Empties a folder tree, never following a symbolic link out of it (a
// folder that is itself a link is left as it is, its target untouched).
// The entry of the top folder named `last` (in any letter case) is removed
// only after every other entry was, and stays when one could not be. False
// for an existing path shorter than 4 characters (a drive's root), which
// is not touched, and when an entry could not be removed.
bool ClearFolder(ToolContext& ctx, const std::string& path, const std::string& last = "");

// Copies `source` to `destination` in 1 MiB chunks, adding to the copy
// counters and publishing the percentage after every chunk. A copy that
// fails part-way leaves the destination as it was. True when the file was
// copied whole.
bool CopyFileWithProgress(ToolContext& ctx, const std::string& destination,
                          const std::string& source, Durability durability = Durability::kDevice);

// Publishes one progress text: the debugger output, and the UTF-16
// characters at the start of the progress mapping when it is open.
void ReportCopyProgress(ToolContext& ctx, const std::string& text);

// copied × 100 / total, truncated, in 64-bit arithmetic; -1 when the total
// is 0.
int64_t CopyPercentage(uint64_t copied, uint64_t total);

}  // namespace kvx
