#include "app/path_resolution.h"

#include "core/diag.h"
#include "flash/root_path.h"

namespace kvx {

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

bool GetRootPathEx(ToolContext& ctx, std::string& path) {
  return GetRootPathFromDataPath(ctx, path);
}

bool GetUserFolderPathEx(ToolContext& ctx, std::string& path) {
  std::string root;
  if (!GetRootPathEx(ctx, root)) {
    ctx.debug.Write("enter to GetRootPathEx.... ");
    return false;
  }
  Diag(ctx.debug, "GetRootPathEx is %s", root.c_str());
  path = root;
  Diag(ctx.debug, "the strUserFolderPath is %s", path.c_str());
  return !path.empty();
}

bool IsSafeAccountName(const std::string& account) {
  return account.find_first_of("\\/:") == std::string::npos && account != "." && account != "..";
}

bool GetCurrentUserPath(ToolContext& ctx, const std::string& account, std::string& path) {
  // Joined unchanged, such a name from a command file would reach outside
  // the user folder.
  if (!IsSafeAccountName(account)) return false;
  std::string root;
  if (!GetRootPathEx(ctx, root)) return false;
  const std::string joined = JoinPath(root, account);
  if (joined.empty()) return false;
  path = joined;
  return true;
}

bool GetPersistFolderPath(ToolContext& ctx, std::string& path) {
  std::string root;
  const bool found = GetRootPathFromSysPath(ctx, root);
  Diag(ctx.debug, "The SysRootPath is %s", root.c_str());
  path = root;
  Diag(ctx.debug, "After change The SysRootPath is %s", path.c_str());
  if (found) path = JoinPath(path, "persist");
  return found;
}

}  // namespace kvx
