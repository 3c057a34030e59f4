// The current user's configuration and data folders, and the few file-system
// steps that the settings file and the desktop integration share.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix {

// $XDG_CONFIG_HOME, or ~/.config when it is unset, empty or not absolute.
// Empty when not even the home folder is known.
std::string UserConfigHome();
// $XDG_DATA_HOME, or ~/.local/share, with the same rules.
std::string UserDataHome();
// $XDG_STATE_HOME, or ~/.local/state, with the same rules.
std::string UserStateHome();

// Creates path and every missing folder above it with the given mode. The
// folders that did not exist before are appended to created (outermost first).
bool MakeFolders(const std::string& path, mode_t mode, std::vector<std::string>* created = nullptr);

// Reads a whole regular file of at most maxBytes. nullopt when the file is
// missing, not a regular file, unreadable or larger; missing tells the first
// case apart.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes,
                                         bool* missing = nullptr);

// Replaces path with contents so that a reader or a crash sees either the old
// file or the new one, never a part: the text goes to a temporary file in the
// same folder, is flushed to disk and then renamed over path. When path is a
// symbolic link, the file it points to is replaced and the link stays.
// beforeReplace, when set, runs after the temporary file is complete and
// before the rename.
bool ReplaceFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                           const std::function<void()>& beforeReplace = {});

// The name prefix of the temporary files that ReplaceFileAtomically leaves
// behind for path when the program dies before the rename.
std::string TemporarySiblingPrefix(const std::string& path);

}  // namespace morix
