// Makes the renamer known to the desktop of the current user: an application
// entry for "Open With" on files and on folders, context-menu actions for the
// Dolphin, Files (Nautilus) and Nemo file managers, and the program icon, all
// under the user's data folder. Registering again rewrites the same files;
// unregistering removes exactly those files (and the folders registering had
// to create) and nothing else. A file of the same name that registering did
// not write is never changed or removed.
#pragma once

#include <string>
#include <vector>

namespace morix {

// What removing the entries came to: every entry was there and went; some
// were not there (never registered, or removed by the user) and the rest
// went; or a removal failed.
enum class Removal { kRemoved, kNotRegistered, kFailed };

// Both write (or remove) the entries for files and then those for folders;
// both are always attempted. Registering is true only when both succeeded.
// The first pair uses the running program and the user's data folder.
bool RegisterContextMenu();
Removal UnregisterContextMenu();
bool RegisterContextMenu(const std::string& dataHome, const std::string& programPath);
Removal UnregisterContextMenu(const std::string& dataHome);

// The files registering writes, relative to the data folder.
std::vector<std::string> RegisteredFiles();

}  // namespace morix
