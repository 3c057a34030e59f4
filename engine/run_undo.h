// Taking a completed run back: the checks that come before anything moves,
// and the jobs of the undo run (every file from its new name to its old).
#pragma once

#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/rename_run.h"
#include "engine/run_journal.h"

namespace morix {

// Why a file of the run cannot be taken back.
struct ChangedFile {
    enum class Change {
        kGone,          // nothing under the name the run gave it: renamed or deleted since
        kReplaced,      // another file holds that name now
        kOldNameTaken,  // its old name is held by a file that is not one of the run's
        kOtherVolume,   // its folder is on another volume now
        kUnreadable,    // the name could not be looked at (error)
    };
    std::string path;  // bytes; for kOldNameTaken the old name's path, for kOtherVolume the folder
    Change change = Change::kGone;
    int error = 0;
};

// "path: why", one line for a person.
std::string DescribeChange(const ChangedFile& changed);

struct UndoPlan {
    RenameJobs jobs;       // new name -> old name, per file of the run
    std::vector<FileIdentity> found;   // per job, its file as found under the new name
    std::vector<ChangedFile> changed;  // empty: the undo may run
};

// Checks that every file of the completed run in record is still the run's
// file under the name the run gave it (on volumes that keep inode numbers
// its number and birth time; elsewhere its kind, size and modification
// time) and that every old name is free or held by a file of the same undo.
// Folders the run renamed are looked for under their new names.
UndoPlan PlanUndo(const JournalRecord& record, FileSystem& fs);

// Whether newer touched a file or a name of older, or anything inside a
// folder either renamed: then older cannot be undone before newer.
bool TouchesSameFiles(const JournalRecord& older, const JournalRecord& newer);

// The folders of a run as the run found them, each once, in record order.
std::vector<std::string> RunFolders(const JournalRecord& record);

}  // namespace morix
