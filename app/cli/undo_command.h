// morix --undo[=ID] and morix --history: taking back a completed run, and
// the list of runs kept for that.
#pragma once

#include <cstdint>
#include <cstdio>

namespace morix::cli {

// Exit statuses of --undo; 2 also for a bad command line.
inline constexpr int kUndoDone = 0;
inline constexpr int kUndoRolledBack = 1;  // or it could not start; see err
inline constexpr int kUndoRefused = 3;     // nothing was touched
inline constexpr int kUndoNothing = 4;     // no such run, or none left to undo

// id 0: the most recent run not yet undone. Messages go to err.
int RunUndo(std::uint64_t id, std::FILE* err);

// One line per kept run on out, newest first: id, date and time, number of
// files, whether it was undone, folders. 0, or 1 when they cannot be read.
int RunHistory(std::FILE* out, std::FILE* err);

}  // namespace morix::cli
