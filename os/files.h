// Whole files and folder paths: made, read and replaced in one step.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix {

// The folder part of path: "." for a bare name, "/" for a name in the root.
std::string ParentFolder(const std::string& path);

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
