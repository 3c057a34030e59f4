// What the preview says of each row besides its new name: whether a rename
// run could carry it out. Computed with the pass, by the same rules the run
// refuses by, so that no run is started that is sure to fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_system.h"
#include "engine/folder_listings.h"
#include "engine/new_name.h"
#include "engine/paths.h"
#include "engine/rename_list.h"

namespace morix {

enum class RowState : std::uint8_t {
    kOk,
    kUnchanged,   // the new name is the old one; the run does nothing for it
    kConflict,    // the new name is taken; the run would refuse to start
    kImpossible,  // the volume cannot hold the new name; the run would fail
};

// Why a row is a conflict or impossible.
enum class RowProblem : std::uint8_t {
    kNone,
    // Conflicts.
    kTakenByFile,       // a file that is not in the list
    kTakenByFolder,     // a folder that is not in the list
    kTakenByLink,       // a symbolic link (dangling or not) that is not in the list
    kTakenByKeptName,   // a file of the list that keeps its name
    kTakenTwice,        // the new name of another row too
    kFolderUnreadable,  // the folder cannot be read, so the name cannot be checked
    // Impossible names.
    kNotAFileName,      // ".", "..", or a name with a NUL character
    kTooManyBytes,      // longer than the volume's limit in bytes (255 on ext4, xfs, ...)
    kTooManyUnits,      // longer than 255 UTF-16 characters (FAT, exFAT, NTFS, and any volume)
    kTrailingDot,       // the volume drops a dot at the end of a name (FAT)
    kControlCharacter,  // the volume holds no control characters in names (FAT, exFAT)
    kTrailingSpace,     // the volume refuses a space at the end of a name (FAT)
    kNotUtf8,           // bytes that are not UTF-8, which a volume of UTF-16 names cannot hold
};

RowState StateOf(RowProblem problem);
// A conflict or an impossible name: a run with such a row cannot succeed.
inline bool StopsARun(RowState state) {
    return state == RowState::kConflict || state == RowState::kImpossible;
}
// The reason in a few words, for the command line.
const char* ProblemText(RowProblem problem);

struct RowCheck {
    RowState state = RowState::kOk;
    RowProblem problem = RowProblem::kNone;
};

struct RowCounts {
    std::size_t conflicts = 0;
    std::size_t impossible = 0;
    std::size_t unchanged = 0;
};
RowCounts CountStates(std::span<const RowCheck> checks);

// What names a volume can hold, as far as its type tells.
struct VolumeNameRules {
    std::size_t maxBytes = 255;  // 0: not counted in bytes (the volume stores UTF-16)
    std::size_t maxUnits = 255;  // UTF-16 code units; no Linux volume holds more
    bool dropsTrailingDot = false;
    bool refusesControlCharacters = false;
    bool refusesTrailingSpace = false;
    bool refusesNonUtf8 = false;  // names are stored as UTF-16 by the kernel's driver
};
// The rules of the volume that holds folder (a path as the file system's bytes).
VolumeNameRules NameRulesOf(const std::string& folder);
// Why the volume cannot hold name, or kNone.
RowProblem ImpossibleNameProblem(std::u16string_view name, const VolumeNameRules& rules);

enum class RowCheckScope {
    kNamesOnly,  // unchanged and impossible rows; the disk is asked only for volume types
    kAll,        // conflicts too: every target is checked against the disk
};

// Checks count rows: the path each file has and the new name it is to get
// in its folder. The disk is asked on every call, so the states follow files
// that appeared or went since the last one; listings, when given, keeps the
// listings of large folders between calls and reads them again only when
// they changed.
std::vector<RowCheck> CheckRows(FileSystem& fs, std::size_t count,
                                const std::function<PathParts(std::size_t)>& oldPathOf,
                                const std::function<std::u16string_view(std::size_t)>& newNameOf,
                                RowCheckScope scope = RowCheckScope::kAll,
                                FolderListings* listings = nullptr);

// The same for every row of a preview pass (names parallel to rows).
std::vector<RowCheck> CheckPreviewRows(FileSystem& fs, const RenameList& list,
                                       std::span<const std::uint32_t> rows, const NameList& names,
                                       FolderListings* listings = nullptr);

}  // namespace morix
