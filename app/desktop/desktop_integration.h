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
// The first pair uses the running program, the user's data folder and the
// installation the program belongs to.
//
// A file that the installation in installedData provides for every user
// (installedData empty: no installation the desktop sees) is not written: a
// copy written by an earlier registration is removed instead, as it would
// hide the installation's. Such a file counts as registered.
bool RegisterContextMenu();
Removal UnregisterContextMenu();
bool RegisterContextMenu(const std::string& dataHome, const std::string& programPath,
                         const std::string& installedData = {});
Removal UnregisterContextMenu(const std::string& dataHome, const std::string& installedData = {});

// The files registering writes, relative to the data folder.
std::vector<std::string> RegisteredFiles();

// What an installation puts in the shared data folder for every user: each
// file that registering would write for the program at programPath, without
// the mark of a registration, save the per-user script of Files. Empty for a
// path that the entries cannot carry.
struct DesktopFile {
    std::string path;  // relative to the data folder
    std::string text;
};
std::vector<DesktopFile> SystemDesktopFiles(const std::string& programPath);

// The running program's shared data folder when it is one of the desktop's
// system-wide data folders, where an installation's entries are seen; else
// empty.
std::string InstalledDesktopData();

}  // namespace morix
