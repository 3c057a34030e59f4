// A rename run that records itself in the user's journal folder: how the
// window and the command line both start one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/rename_run.h"
#include "engine/run_journal.h"

namespace morix {

// The run with the file system and the journal it goes through. Members are
// built in this order and destroyed in reverse, so the run's worker is
// joined before its journal and file system go.
struct JournaledRun {
    // keepRecord: a run that ends with every file under its new name keeps
    // its record in the run history, so that it can be undone.
    JournaledRun(std::string journalFolder, RenameJobs jobs, RenameRunSettings settings,
                 bool keepRecord = true);
    JournaledRun(const JournaledRun&) = delete;
    JournaledRun& operator=(const JournaledRun&) = delete;

    RealFileSystem fs;
    OsError keepError;  // why a completed run's record could not be kept
    RunJournal journal;
    RenameRun run;
};

// Either a run ready to Start(), or why none can start.
struct PreparedRun {
    std::unique_ptr<JournaledRun> ready;  // null when the run cannot start
    std::string error;                    // why, for a person, when ready is null
};

// Makes the journal folder when it is missing and prepares the run of jobs
// with its journal there (settings.journal is set to it). A run that cannot
// keep a journal is not prepared: a run cut short could not be rolled back.
PreparedRun PrepareJournaledRun(RenameJobs jobs, RenameRunSettings settings = {},
                                bool keepRecord = true);

}  // namespace morix
