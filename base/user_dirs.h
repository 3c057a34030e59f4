// The current user's configuration, data and state folders.
#pragma once

#include <string>
#include <vector>

namespace morix {

// $XDG_CONFIG_HOME, or ~/.config when it is unset, empty or not absolute.
// Empty when not even the home folder is known.
std::string UserConfigHome();
// $XDG_DATA_HOME, or ~/.local/share, with the same rules.
std::string UserDataHome();
// $XDG_STATE_HOME, or ~/.local/state, with the same rules.
std::string UserStateHome();
// The desktop's system-wide data folders: each absolute entry of
// $XDG_DATA_DIRS, or /usr/local/share and /usr/share when it has none; each
// without a trailing '/'.
std::vector<std::string> SystemDataDirs();

}  // namespace morix
