// Where the user's rename runs keep their journals, and the putting back of
// this user's runs that were cut short.
#pragma once

#include <string>

#include "engine/run_recovery.h"

namespace morix {

// $XDG_STATE_HOME/Vantorel/Trelvo Renamer/runs, with ~/.local/state standing
// in for an unset, empty or relative variable. Empty when not even the home
// folder is known.
std::string RunJournalFolder();

// Creates the journal folder (private to the user) when it is missing.
// Returns it, or empty with a description in error.
std::string MakeRunJournalFolder(std::string& error);

// Rolls back the runs of this user that ended without finishing.
RecoveryReport RecoverInterruptedRuns();

}  // namespace morix
