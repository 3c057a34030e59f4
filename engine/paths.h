// Pure string functions on full paths. "/" is the only separator. The
// functions that return views return parts of their argument.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morix {

// The text after the last "/"; the whole path when it has none.
std::u16string_view FileName(std::u16string_view path);

// A path held as two views: folder + name is the whole path. The folder
// keeps its last "/" ("/" for a file in the root) and is empty for a path
// without one; the name is FileName of the path.
struct PathParts {
    std::u16string_view folder;
    std::u16string_view name;

    std::u16string Whole() const;
    // The folder as Folder() gives it: without its last "/".
    std::u16string_view Parent() const {
        return folder.empty() ? folder : folder.substr(0, folder.size() - 1);
    }
};

PathParts SplitPath(std::u16string_view path);

// In FileName(path): the text after the last "."; empty when the name has no
// "." or ends with one.
std::u16string_view Extension(std::u16string_view path);

// The text before the last "/" (no trailing separator); empty without one.
std::u16string_view Folder(std::u16string_view path);

// s without its extension and the dot before it; s itself when Extension(s)
// is empty (so a trailing "." stays).
std::u16string_view RemoveExtension(std::u16string_view s);

// name when ext is empty, else name + "." + ext.
std::u16string JoinNameExt(std::u16string_view name, std::u16string_view ext);

// base + "/" + name with exactly one separator between them; "/" + name for
// an empty base; base for an empty name.
std::u16string CombinePath(std::u16string_view base, std::u16string_view name);

// path written without the spellings that name nothing of their own: repeated
// separators and "." components go, and ".." takes the component before it
// away (at the root it stays the root; a relative path keeps the ".." it
// cannot resolve). No trailing separator except in "/" itself; an empty
// result of a relative path is ".". Works on the text alone, so a ".." after
// a link to a folder is taken back as if the link were a folder.
std::u16string NormalizeLexically(std::u16string_view path);

// The first CombinePath(folder, prefix + n + "." + ext), n = 0, 1, 2, ..., for
// which exists() is false; empty when n would pass INT32_MAX. With next, n
// starts there, and next becomes the number after the one given out: many
// names for one folder then cost no more than one each.
std::u16string UniqueTempPath(std::u16string_view folder, std::u16string_view prefix,
                              std::u16string_view ext,
                              const std::function<bool(const std::u16string&)>& exists,
                              std::int64_t* next = nullptr);
// The same, asking the real file system.
std::u16string UniqueTempPath(std::u16string_view folder, std::u16string_view prefix,
                              std::u16string_view ext);

}  // namespace morix
