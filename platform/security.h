#pragma once
#include <string>
#include <vector>

namespace kvx {

// What the process token says of the built-in Administrators group.
struct AdminGroupState {
  bool member = false;   // the group is in the token
  bool enabled = false;  // and its entry is enabled (not filtered)
};

// Rights of the process, and the elevated relaunch.
class Security {
 public:
  virtual ~Security() = default;
  // Reads the token's group list and looks for the Administrators group.
  // False (with `out` cleared) when the token cannot be read.
  virtual bool ReadAdminGroup(AdminGroupState& out) = 0;
  // Starts `executable` elevated with `arguments`, each reaching it as one
  // argument, and returns without waiting for it. The outcome is not
  // reported.
  virtual void LaunchElevated(const std::string& executable,
                              const std::vector<std::string>& arguments) = 0;
};

}  // namespace kvx
