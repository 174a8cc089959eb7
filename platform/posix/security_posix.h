#pragma once
#include <string>
#include <vector>

#include "platform/posix/path_map.h"
#include "platform/security.h"

namespace kvx {

// The Administrators group on POSIX: a member is root or a member of the
// group sudo, wheel or admin; the membership is enabled when the effective
// user is root.
AdminGroupState AdminGroupFromIds(unsigned uid, unsigned euid,
                                  const std::vector<std::string>& group_names);

// The command line of the elevated relaunch: through sudo, or pkexec where
// sudo is missing, a shell with a fixed script that enters the working
// folder, sets the machine folder and runs `executable` with `parameter`.
// Every value travels as a positional argument of that script, never as
// script text or as an option or assignment of another program, so the
// elevated copy runs the tool and nothing else, whatever the paths hold
// ("=", blanks, quotes, a leading "-"). Empty when neither launcher is
// found on `search_path`.
std::vector<std::string> ElevatedCommandLine(const std::string& search_path,
                                             const std::string& machine_folder,
                                             const std::string& working_folder,
                                             const std::string& executable,
                                             const std::vector<std::string>& arguments);

class PosixSecurity : public Security {
 public:
  explicit PosixSecurity(const PathMap& paths) : paths_(paths) {}
  bool ReadAdminGroup(AdminGroupState& out) override;
  void LaunchElevated(const std::string& executable,
                      const std::vector<std::string>& arguments) override;

 private:
  const PathMap& paths_;
};

}  // namespace kvx
