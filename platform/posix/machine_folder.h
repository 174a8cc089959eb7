#pragma once
// The machine folder: everything that is machine-wide on Windows (drive
// map, named objects, debugger output endpoint, registry, temp folder, the
// emulator's sockets, the firmware tables) lives below one folder, named by
// the variable KVXPREFIX, as WINEPREFIX names Wine's.
#include <string>

namespace kvx {

inline constexpr const char* kMachineFolderVariable = "KVXPREFIX";

// The machine folder: $KVXPREFIX when set and not empty, otherwise
// $HOME/.kvx, otherwise /tmp/.kvx-<uid>. Read once per process.
const std::string& MachineFolder();

// `relative` below the machine folder.
std::string MachinePath(const std::string& relative);

// Creates `relative` below the machine folder (and the folder itself) when
// missing. Folders for objects shared between users are made sticky and
// writable by all, like /tmp. False when it cannot be created.
bool EnsureMachineDir(const std::string& relative, bool shared_by_all_users);

}  // namespace kvx
