#pragma once
// The folders of the flash volume the tool works in, built on the two
// discovered roots: the user folder (the data root), an account's folder
// and the persistent-settings folder.
#include <string>

#include "core/tool_context.h"

namespace kvx {

// The discovery's flag, with `path` the data root (or the flash root on
// failure).
bool GetRootPathEx(ToolContext& ctx, std::string& path);

// True with `path` the data root when it was found and is not empty.
bool GetUserFolderPathEx(ToolContext& ctx, std::string& path);

// Whether an account name stays inside the user folder when joined to it:
// not "." or "..", and no "\", "/" or ":".
bool IsSafeAccountName(const std::string& account);

// True with `path` the account's folder (data root, "\" unless the root
// ends in one, the name). An account name that could leave the user folder
// ("\", "/", ":", "." or "..") is refused: false, `path` untouched.
bool GetCurrentUserPath(ToolContext& ctx, const std::string& account, std::string& path);

// The discovery's flag of the system root; on success `path` is the
// persistent-settings folder, on failure the text the discovery gave.
bool GetPersistFolderPath(ToolContext& ctx, std::string& path);

// `folder` and `name` joined by one "\" (none added when `folder` ends in
// one).
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace kvx
