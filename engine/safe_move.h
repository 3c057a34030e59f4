// Moving a file to a new name without ever replacing another file, on every
// kind of Linux volume: case-sensitive or not, with or without the
// no-replace flag, with or without hard links.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/file_system.h"

namespace morix {

// The prefix of the names under which files are parked during a run.
inline constexpr char16_t kTempPrefix[] = u".morx$";

class SafeMover {
  public:
    explicit SafeMover(FileSystem& fs) : fs_(fs) {}

    struct Result {
        int error = 0;           // 0 or an errno value; EEXIST: the target is another file
        std::string strandedAt;  // after a failure: where the file was left when not at from
    };

    // Moves from to to. Succeeds only when to names no other file; a target
    // that is the same file under another spelling (a change of letter case
    // on a case-insensitive volume) is renamed through a temporary name. With
    // checkStoredName, a move whose stored name differs from to (a volume
    // that dropped a trailing dot) counts as failed and is undone.
    Result Move(const std::string& from, const std::string& to, bool checkStoredName = true);

    // While deferred, Move does not read a folder after each move to see
    // the name it stored, a pass over the folder per move: the names of a
    // whole run are checked afterwards with NamesNotStored.
    void DeferStoredNameChecks(bool defer) { deferChecks_ = defer; }

    // Of paths, names that moves gave files, those (indexes, ascending) that
    // their folders do not list, letter case aside: one reading per folder,
    // of folders that may store another name than asked. Only the paths that
    // check accepts are looked at.
    std::vector<std::size_t> NamesNotStored(std::span<const std::string_view> paths,
                                            const std::function<bool(std::size_t)>& check);
    std::vector<std::size_t> NamesNotStored(const std::vector<std::string>& paths,
                                            const std::function<bool(std::size_t)>& check) {
        const std::vector<std::string_view> views(paths.begin(), paths.end());
        return NamesNotStored(views, check);
    }

    // Swaps two existing names atomically. EINVAL, ENOSYS and EOPNOTSUPP mean
    // the volume cannot do it.
    int Exchange(const std::string& a, const std::string& b);

    // A free name ".morx$N.ext" in folder, other than those in promised;
    // empty when none is left. The numbers tried go on from those of the
    // last call for the folder.
    std::string TempPath(const std::string& folder, const std::string& ext,
                         const std::unordered_set<std::string>* promised = nullptr);

    FileSystem& Fs() { return fs_; }

    // A move by link could neither finish nor be undone at some point: a
    // file that counts as being at its old place has a second name.
    bool SecondNameLeft() const { return secondNameLeft_; }

  private:
    int MoveNoReplace(const std::string& from, const std::string& to);
    int MoveByLink(const std::string& from, const std::string& to);
    int MoveOverReservation(const std::string& from, const std::string& to);
    static bool IsReservation(const FileIdentity& reserved, const FileIdentity& now);
    // Removes the reservation at path if it is still there and still ours.
    void DropReservation(const std::string& path, const FileIdentity& reserved);
    // A change of name through a temporary name in the same folder, for a
    // target that may be the file itself under another spelling.
    Result MoveThroughTemp(const std::string& from, const std::string& to);
    bool NameIsStored(const std::string& path);
    bool FolderKeepsExactNames(std::string_view folder);

    FileSystem& fs_;
    std::unordered_map<std::string, bool> exactFolders_;
    const std::string* lastFolder_ = nullptr;  // the key last asked for
    bool lastExact_ = false;
    std::vector<std::string> names_;  // reused buffer for folder listings
    bool secondNameLeft_ = false;
    bool deferChecks_ = false;
    // Per folder, the number its next temporary name is tried with.
    std::unordered_map<std::string, std::int64_t> nextTemp_;
};

// The failure of a move whose source is no longer the file the run set out
// to move (another file took its name, or it was changed); not an errno value.
inline constexpr int kNotThePlannedFile = -1;
// The failure of recovery in a folder where another volume is mounted now.
inline constexpr int kOtherVolume = -2;

// Why a move failed, for a person: the system's text for an errno value.
std::string MoveFailureText(int error);

// Equality of byte strings with A-Z folded to a-z.
bool AsciiEqualsNoCase(std::string_view a, std::string_view b);
// name with A-Z as a-z: what AsciiEqualsNoCase compares.
std::string AsciiLowered(std::string name);

// For a change of letter case only within one folder: whether the target
// names a different file than the source, judged from the folder's entries.
bool OtherFileUnderCaseVariant(const std::vector<std::string>& entries, std::string_view source,
                               std::string_view target);

// Byte-path helpers matching Folder, FileName and Extension.
std::string_view FolderView(std::string_view path);
std::string FolderOf(std::string_view path);
std::string NameOf(std::string_view path);
std::string ExtensionOf(std::string_view path);

}  // namespace morix
