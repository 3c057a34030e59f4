// morix --rename: renames every row's file to its previewed name, all or
// nothing.
#pragma once

#include <cstdio>

#include "app/cli/command_line.h"
#include "engine/rename_run.h"
#include "engine/run_journal.h"

namespace morix::cli {

// Exit statuses of --rename; 2 also for a bad command line.
inline constexpr int kRenameDone = 0;
inline constexpr int kRenameRolledBack = 1;
// A PATH missing, a FOLDER unreadable, or a regular expression stopped by its
// limit on a name: nothing was touched.
inline constexpr int kRenameBadSource = 2;
inline constexpr int kRenameTargetTaken = 3;  // or a new name its volume cannot hold

// out receives the --verbose lines, err the messages and the progress bar
// (drawn only when err is a terminal and the run lasts over a second).
int RunRename(CommandLine commandLine, std::FILE* out, std::FILE* err);

// Waits for a run, showing a progress bar on err when it is a terminal and
// the run takes more than a second.
void WaitForRun(RenameRun& run, std::FILE* err);

// Why a run was rolled back: the file that could not move and the reason,
// every file that could not be put back, and the journal kept for them.
void ReportRolledBack(const RenameRun& run, const RunJournal& journal, std::FILE* err);

}  // namespace morix::cli
