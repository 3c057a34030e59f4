// The journal of a rename run. Before the first file moves, the run writes
// down every file it is about to rename and makes that record durable; when
// the run ends with every file under a name the user knows (all renamed, or
// all put back), the record goes. A record that outlives its process marks
// a run that was cut short, and lets the next start put its files back.
//
// A file keeps its inode number when it is renamed within its folder, so one
// line per file is enough: whatever name the file has when the run stops
// (its old name, its new name or a parking name), the number finds it.
//
// The record is text, one line per item; names are written as
// "<byte count>:<bytes>" because a file name may hold any byte but "/" and
// NUL, line breaks included:
//   morix run journal 1
//   pid <process id>
//   started <seconds since the epoch>
//   folder <device> <file count> <len>:<folder path>
//   <inode> <len>:<old name> <len>:<new name>      (file count times)
//   ...                                            (more folders)
//   end <folder count> <file count> <crc-32 of all lines above, 8 hex digits>
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morix {

struct JournalFile {
    std::uint64_t inode = 0;
    std::string oldName;  // file-name bytes, without the folder
    std::string newName;
};

struct JournalFolder {
    std::uint64_t device = 0;
    std::string path;  // "" is the root folder
    std::vector<JournalFile> files;
};

struct JournalRecord {
    std::int64_t pid = 0;      // the process that ran the run
    std::int64_t started = 0;  // seconds since the epoch
    std::vector<JournalFolder> folders;

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

// The inode numbers of names in folder (file-name bytes), by index; 0 where
// a name is absent. 0 or an errno value when the folder cannot be read.
int ReadInodes(const std::string& folder, const std::vector<std::string_view>& names,
               std::uint64_t& device, std::vector<std::uint64_t>& inodes);

// A run's journal, held locked by its process from the moment it exists, so
// that no other process takes a live run for one that was cut short.
class RunJournal {
  public:
    // folder: where journals are kept; it must exist.
    explicit RunJournal(std::string folder);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Records the files about to move: oldPaths[i] is renamed to
    // newPaths[i] (both absolute, as bytes; pairs with equal paths are
    // left out), and makes the record durable. False when it cannot; Error()
    // says why, and nothing may move.
    bool Begin(const std::vector<std::string>& oldPaths, const std::vector<std::string>& newPaths);

    // Begin in two steps: Prepare reads what identifies the files and
    // writes nothing (it may run beside other work that only reads), Commit
    // puts the record on disk.
    bool Prepare(const std::vector<std::string>& oldPaths,
                 const std::vector<std::string>& newPaths);
    bool Commit();

    // The run has ended with every file under its old or its new name: the
    // names are flushed to disk and the record goes.
    void Finish();

    // Begun and not finished: the record stays on disk after this object.
    bool Unfinished() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

  private:
    bool Fail(const std::string& what, int error);

    std::string folder_;
    std::string path_;
    std::string error_;
    std::vector<std::string> runFolders_;
    std::string text_;  // prepared and not yet on disk
    std::string base_;  // the journal's name without its number and suffix
    int fd_ = -1;
};

// Flushes a folder's entries (renames in it) to disk; 0 or an errno value.
int SyncFolder(const std::string& folder);

}  // namespace morix
