// The user's kept rename runs (beside the run journals) and the taking back
// of one: what morix --history and --undo and the window's Undo do.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/journaled_run.h"
#include "engine/run_history.h"
#include "engine/run_undo.h"

namespace morix {

struct HistoryEntry {
    KeptRun run;
    std::int64_t started = 0;  // seconds since the epoch
    std::vector<std::string> folders;
    std::size_t files = 0;
    std::string damage;  // the record cannot be trusted; nothing else is known of it
};

// The kept runs, newest first. error says why they cannot be read (the
// list is then empty); no run kept yet is no error.
std::vector<HistoryEntry> ReadRunHistory(std::string& error);

enum class UndoStatus {
    kReady,          // ready to Start(); nothing has moved yet
    kNothingToUndo,  // no kept run that is not undone
    kUnknownRun,     // no kept run with that id
    kAlreadyUndone,
    kBusy,          // another process is undoing it
    kDamaged,       // its record cannot be trusted; see problem
    kNewerRun,      // a newer run that is still in place touched its files; see newerId
    kFilesChanged,  // see changed
    kCannotStart,   // see problem
};

struct PreparedUndo {
    UndoStatus status = UndoStatus::kNothingToUndo;
    HistoryEntry entry;  // the run to undo, once found
    std::uint64_t newerId = 0;
    std::string problem;
    std::vector<ChangedFile> changed;
    UniqueFd recordLock;                  // held until the undo has ended
    std::unique_ptr<JournaledRun> ready;  // the undo run, with a journal of its own
};

// Finds the run (id 0: the most recent not yet undone) and checks it; with
// status kReady, ready holds the undo run. settings go to that run.
PreparedUndo PrepareUndo(std::uint64_t id, RenameRunSettings settings = {});

// After the undo run put every file back: marks the run undone, durably.
// Empty, or what failed.
std::string ConcludeUndo(PreparedUndo& undo);

}  // namespace morix
