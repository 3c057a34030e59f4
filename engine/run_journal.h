// The journal of a rename run. Before the first file moves, the run writes
// down every file it is about to rename and makes that record durable; when
// the run ends with every file under a name the user knows (all renamed, or
// all put back), the record is marked finished and goes. A record that
// outlives its process unfinished marks a run that was cut short, and lets
// the next start put its files back.
//
// Each folder is recorded with what identifies its volume (so that another
// volume mounted at the same place is never taken for it) and with whether
// the volume keeps inode numbers. Each file is recorded with its inode
// number, size, modification and birth times, and on volumes that do not
// keep inode numbers with the print of its content (see ContentPrint) where
// it has any. On volumes that keep inode numbers, the number finds a file
// under any name of its run. Elsewhere numbers are made up per mount, so
// the run moves in an order that names alone decode: every file whose old
// name is another's new name (chains, swaps, rotations) is first parked
// under the parking name recorded for it, all of them; then a "stage 1" line
// says that such files stand at their parking or their new names; a
// roll-back parks them again and appends "stage 2": parking or old names.
//
// The record is text, one line per item; names are written as
// "<byte count>:<bytes>" because a file name may hold any byte but "/" and
// NUL, line breaks included:
//   morix run journal 3
//   pid <process id>
//   started <seconds since the epoch>
//   folder <device> <keeps inode numbers 0|1> <file count> <len>:<volume> <len>:<folder path>
//   <inode> <size> <mtime s> <mtime ns> <btime s or -> <btime ns> <f|d> <print, 16 hex digits,
//       or -> <len>:<old name> <len>:<new name> <len>:<parking name or nothing>
//                                                              (file count times, one line each)
//   ...                                                        (more folders)
//   end <folder count> <file count> <crc-32 of all lines above, 8 hex digits>
//   stage 1 | stage 2 | finished                               (appended later, each alone)
// Journals of version 2, whose file lines have no print, are read as well.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "engine/file_system.h"
#include "engine/volume_identity.h"
#include "os/os_error.h"
#include "os/unique_fd.h"

namespace morix {

struct JournalFile {
    FileIdentity identity;  // its device is the folder's
    std::string oldName;    // file-name bytes, without the folder
    std::string newName;
    std::string parkName;  // where the run parks it on its way; empty: it moves directly
    std::optional<std::uint64_t> print;  // of its content, see ContentPrint; empty: not taken
};

struct JournalFolder {
    std::uint64_t device = 0;
    bool stableInodes = true;  // the volume keeps inode numbers
    std::string volume;        // what identifies the volume; see VolumeIdentity
    std::string path;          // "" is the root folder
    std::vector<JournalFile> files;
};

struct JournalRecord {
    std::int64_t pid = 0;      // the process that ran the run
    std::int64_t started = 0;  // seconds since the epoch
    std::vector<JournalFolder> folders;
    int stage = 0;          // 1: parked files go on to their new names; 2: back to their old
    bool finished = false;  // every file ended under its new name or every file under its old

    std::size_t FileCount() const;
};



std::string FormatJournal(const JournalRecord& record);

// The record in text, or a description of the first fault when text is not
// a whole, undamaged journal.
std::variant<JournalRecord, std::string> ParseJournal(std::string_view text);

// File names in the journal folder: "run-<pid>-<time>-<n>.journal" for a
// record, the same with ".tmp" while it is being written.
inline constexpr std::string_view kJournalSuffix = ".journal";
inline constexpr std::string_view kUnfinishedJournalSuffix = ".tmp";

// What a run tells its journal: per job the paths (bytes, absolute), who
// the file is (identity.device 0: not found, it will not move), where it is
// parked on its way (a name in its folder, or empty; parkNames may be empty
// when no file parks) and whether its volume
// keeps inode numbers. Jobs with equal paths are left out.
struct JournalPlan {
    std::span<const std::string_view> oldPaths;
    std::span<const std::string_view> newPaths;
    const std::vector<FileIdentity>& identities;
    const std::vector<std::string>& parkNames;
    const std::vector<std::uint8_t>& stableInodes;
};

// A run's journal, held locked by its process from the moment it exists, so
// that no other process takes a live run for one that was cut short.
class RunJournal {
  public:
    // folder: where journals are kept; it must exist. Every call that
    // reaches the disk goes through fs.
    RunJournal(std::string folder, FileSystem& fs);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Records the files about to move: oldPaths[i] is renamed to
    // newPaths[i] (both absolute, as bytes; pairs with equal paths are left
    // out), each moving directly, and makes the record durable. False when
    // it cannot; Error() says why, and nothing may move.
    bool Begin(const std::vector<std::string>& oldPaths, const std::vector<std::string>& newPaths);

    // Begin in two steps: Prepare reads what identifies the volumes and
    // writes nothing (it may run beside other work that only reads), Commit
    // puts the record on disk. The plan's lists must last until Commit
    // (parkNames only when it is not empty).
    bool Prepare(const JournalPlan& plan);
    bool Commit();

    // Flushes the run's folders, then appends a stage line and makes it
    // durable (see above). False when either fails: the mark is not made.
    bool MarkStage(int stage);

    // The run has ended with every file under its old or its new name: the
    // names are flushed to disk, the record is marked finished and goes.
    // False, with Error() saying why, when a folder could not be flushed
    // (the record stays as it is) or the record could neither be marked nor
    // removed: the next start then takes the run for one cut short.
    // complete: every file is under its new name; a record marked finished
    // then goes to the keeper (see KeepWhenComplete) instead of away.
    bool Finish(bool complete = false);

    // Takes the finished record of a complete run from its path (in the
    // journal folder) and keeps it elsewhere there; returns where, or empty
    // when it did not take it (the record is then removed as usual).
    using Keeper = std::function<std::string(const std::string& journalPath)>;
    void KeepWhenComplete(Keeper keeper) { keeper_ = std::move(keeper); }
    // Where the keeper put the record of this run; empty when it kept none.
    const std::string& KeptPath() const { return kept_; }

    // Begun and not finished: the record stays on disk after this object.
    bool Unfinished() const { return fd_.Valid(); }
    const std::string& Path() const { return path_; }
    // Why the journal failed, as "path: reason"; empty when nothing failed.
    std::string Error() const { return error_.Failed() ? error_.Text() : std::string(); }

  private:
    bool Fail(const char* operation, const std::string& path, int error);
    bool Append(std::string_view line);
    // Writes the prepared record to fd_ piece by piece; 0 or an errno value.
    int WriteRecord();
    // Flushes every folder of the run to disk; false (with Error() set) when
    // one that is there cannot be flushed.
    bool FlushFolders();

    std::string folder_;
    FileSystem& fs_;
    std::string path_;
    OsError error_;
    struct RunFolder {
        std::string path;
        std::string volume;  // see VolumeIdentity
    };
    std::vector<RunFolder> runFolders_;
    std::unordered_map<std::string, std::string> renamedFolders_;  // new paths by old
    // What Prepare found, until Commit writes it: the files that move, by
    // folder in order of appearance.
    struct Group {
        std::string folder;
        std::string volume;
        std::vector<std::uint32_t> jobs;
    };
    std::optional<JournalPlan> plan_;
    std::vector<Group> groups_;
    std::vector<std::optional<std::uint64_t>> prints_;  // per job; see JournalFile::print
    std::int64_t pid_ = 0;
    std::int64_t started_ = 0;
    std::string base_;  // the journal's name without its number and suffix
    std::string name_;  // the journal's file name in folder_
    std::size_t size_ = 0;  // bytes written so far
    UniqueFd fd_;
    UniqueFd folderFd_;  // folder_, to remove the record even after a folder above was renamed
    Keeper keeper_;
    std::string kept_;
};

// The path of a folder after the folders in renamed (new paths by old)
// took their new names: each step of the path as a run left it.
std::string PathAfterRenames(const std::string& folder,
                             const std::unordered_map<std::string, std::string>& renamed);

// The folders a recorded run renamed: their new paths by their old.
std::unordered_map<std::string, std::string> RenamedFolders(const JournalRecord& record);

// Flushes every folder of a recorded run where it stands now: under its old
// path, or under the path the run's renames gave it. A folder found under
// neither (someone moved it) is passed over. 0, or the first other error.
int SyncRunFolders(FileSystem& fs, const JournalRecord& record);

// Appends the line of a stage (1 or 2) to the journal open on fd, whose
// text is size bytes long, and makes it durable; 0 or an errno value.
int AppendStageLine(FileSystem& fs, int fd, std::size_t size, int stage);

// Flushes a folder's entries (renames in it) to disk; 0 or an errno value.
// wholeVolume, when given, tells whether the flush was one of the folder's
// whole volume (see FileSystem::SyncFlushesVolume).
int SyncFolder(FileSystem& fs, const std::string& folder, bool* wholeVolume = nullptr);

// Flushes folders one after another, passing over a folder on a volume that
// an earlier flush here took whole (vfat): nothing may move meanwhile.
class FolderFlushes {
  public:
    explicit FolderFlushes(FileSystem& fs) : fs_(fs) {}
    // As SyncFolder; volume identifies the folder's volume.
    int Flush(const std::string& folder, const std::string& volume);
    // Flush of a folder of a run where it stands now: under its path, or
    // under the path the run's renames (new paths by old) gave it. A folder
    // found under neither (someone moved it) counts as flushed.
    int FlushWhereItStands(const std::string& folder, const std::string& volume,
                           const std::unordered_map<std::string, std::string>& renamed);

  private:
    FileSystem& fs_;
    std::unordered_set<std::string> flushedWhole_;
};

}  // namespace morix
