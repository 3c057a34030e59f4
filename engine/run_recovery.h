// Putting back the files of rename runs that were cut short, from the
// journals they left behind.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/run_journal.h"

namespace morix {

struct UnreturnedFile {
    std::string oldPath;  // where the file belongs (bytes)
    std::string at;       // where it is now; empty when it was not found
    int error = 0;        // why it could not go back; 0 when it was not found
                          // or waited behind a file that could not move
};

struct RecoveredRun {
    std::string journalPath;
    std::int64_t pid = 0;
    std::size_t files = 0;     // files the run was renaming
    std::size_t returned = 0;  // files moved back to their old names now
    std::vector<UnreturnedFile> unreturned;
    std::string damage;  // the journal could not be read; no file was touched
    int accessError = 0;  // the journal could not be opened, locked or read now
                          // (an errno value); no file was touched

    bool Complete() const { return damage.empty() && accessError == 0 && unreturned.empty(); }
};

// Records that the run's parked files stand at their parking or old names
// from now on (see the journal); 0 or an errno value.
using StageMarker = std::function<int(int stage)>;

// Moves every file of the run back to its old name. A file is moved only when
// every recorded property matches: on volumes that keep inode numbers it is
// found by its number under any name of its run or a parking name; elsewhere
// under the names the order of the run's moves allows. A folder now on
// another volume is not touched (kOtherVolume), nor one that a live run holds
// (EBUSY). No file is ever replaced. A second name left by a move cut short
// between its two steps (a link to a file that is back home) is removed.
RecoveredRun RollBackRun(const JournalRecord& record, FileSystem& fs,
                         const StageMarker& markStage);

struct RecoveryReport {
    std::vector<RecoveredRun> runs;     // runs found cut short, put back or not
    std::vector<std::string> liveRuns;  // journals of runs still in progress
    int folderError = 0;  // the folder of journals exists but could not be read
    bool Complete() const;              // nothing is left to do
};

// Rolls back every run recorded in folder whose process has ended without
// finishing it; a journal goes once all its files are home, and stays
// otherwise. Runs still in progress are left alone.
RecoveryReport RecoverInterruptedRuns(const std::string& folder, FileSystem& fs);

}  // namespace morix
