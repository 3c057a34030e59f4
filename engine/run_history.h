// The runs kept so that they can be undone: the journal of every run that
// ended with all its files under their new names stays, marked finished,
// beside the journals as "history-<id>.run" (id counting up from 1), and
// becomes "history-<id>.undone" once the run has been taken back. The newest
// kKeptRuns stay; older ones go when a new one is kept.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "engine/file_system.h"
#include "engine/run_journal.h"
#include "os/os_error.h"

namespace morix {

inline constexpr std::size_t kKeptRuns = 20;

struct KeptRun {
    std::uint64_t id = 0;
    std::string path;  // the record's file
    bool undone = false;
};

// Keeps the finished journal at journalPath, which lies in folder, as the
// record of a completed run under the next id, and makes that durable; then
// removes the oldest records beyond kKeptRuns. Returns the record's path, or
// empty (error says why) when the journal stays where it is.
std::string KeepRunRecord(FileSystem& fs, const std::string& folder, const std::string& journalPath,
                          OsError& error);

// The records in folder, newest first: 0, or an errno value (ENOENT when
// no run has been kept yet).
int ListKeptRuns(FileSystem& fs, const std::string& folder, std::vector<KeptRun>& runs);

// A record as written, or why it cannot be trusted (damaged, not marked
// finished, unreadable).
std::variant<JournalRecord, std::string> ReadKeptRun(FileSystem& fs, const KeptRun& run);

// The id of the run a record's path names; 0 when it names none.
std::uint64_t KeptRunId(const std::string& path);

// Renames the record to say that its run was undone, and makes that
// durable; 0 or an errno value.
int MarkUndone(FileSystem& fs, const std::string& folder, KeptRun& run);

}  // namespace morix
