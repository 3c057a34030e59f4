#include "base/run_history.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <variant>

#include "base/run_journal_folder.h"

namespace morix {
namespace {

HistoryEntry EntryOf(FileSystem& fs, const KeptRun& run, JournalRecord* keep = nullptr) {
    HistoryEntry entry;
    entry.run = run;
    auto parsed = ReadKeptRun(fs, run);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        entry.damage = std::move(*problem);
        return entry;
    }
    JournalRecord& record = std::get<JournalRecord>(parsed);
    entry.started = record.started;
    entry.folders = RunFolders(record);
    entry.files = record.FileCount();
    if (keep != nullptr) *keep = std::move(record);
    return entry;
}

}  // namespace

std::vector<HistoryEntry> ReadRunHistory(std::string& error) {
    std::vector<HistoryEntry> entries;
    const std::string folder = RunJournalFolder();
    if (folder.empty()) {
        error = "the home folder is not known";
        return entries;
    }
    RealFileSystem fs;
    std::vector<KeptRun> runs;
    if (const int e = ListKeptRuns(fs, folder, runs); e != 0) {
        if (e != ENOENT) error = folder + ": " + std::strerror(e);
        return entries;
    }
    for (const KeptRun& run : runs)
        entries.push_back(EntryOf(fs, run));
    return entries;
}

PreparedUndo PrepareUndo(std::uint64_t id, RenameRunSettings settings) {
    PreparedUndo undo;
    const auto status = [&](UndoStatus s, std::string problem = {}) {
        undo.status = s;
        undo.problem = std::move(problem);
        return std::move(undo);
    };
    const std::string folder = RunJournalFolder();
    if (folder.empty()) return status(UndoStatus::kCannotStart, "the home folder is not known");
    RealFileSystem fs;
    std::vector<KeptRun> runs;
    if (const int e = ListKeptRuns(fs, folder, runs); e != 0 && e != ENOENT)
        return status(UndoStatus::kCannotStart, folder + ": " + std::strerror(e));
    std::size_t at = 0;
    while (at < runs.size() && (id == 0 ? runs[at].undone : runs[at].id != id))
        ++at;
    if (at == runs.size())
        return status(id == 0 ? UndoStatus::kNothingToUndo : UndoStatus::kUnknownRun);
    KeptRun& run = runs[at];
    undo.entry.run = run;
    if (run.undone) return status(UndoStatus::kAlreadyUndone);
    // Held until the undo has ended: another process undoing the same run
    // waits for none of this and is refused.
    if (const int e = fs.OpenFile(run.path, false, undo.recordLock); e != 0) {
        // Undone by another process since the listing, or gone.
        return e == ENOENT ? status(UndoStatus::kAlreadyUndone)
                           : status(UndoStatus::kCannotStart, run.path + ": " + std::strerror(e));
    }
    if (const int e = fs.LockFile(undo.recordLock.Get()); e != 0)
        return e == EWOULDBLOCK
                   ? status(UndoStatus::kBusy)
                   : status(UndoStatus::kCannotStart, run.path + ": " + std::strerror(e));
    if (fs.Lstat(run.path) != 0) return status(UndoStatus::kAlreadyUndone);
    JournalRecord record;
    undo.entry = EntryOf(fs, run, &record);
    if (!undo.entry.damage.empty()) return status(UndoStatus::kDamaged, undo.entry.damage);
    // Newest first: a newer run still in place may have taken its names.
    for (std::size_t k = 0; k < at; ++k) {
        if (runs[k].undone) continue;
        auto newer = ReadKeptRun(fs, runs[k]);
        const auto* newerRecord = std::get_if<JournalRecord>(&newer);
        if (newerRecord != nullptr && TouchesSameFiles(record, *newerRecord)) {
            undo.newerId = runs[k].id;
            return status(UndoStatus::kNewerRun);
        }
    }
    UndoPlan plan = PlanUndo(record, fs);
    if (!plan.changed.empty()) {
        undo.changed = std::move(plan.changed);
        return status(UndoStatus::kFilesChanged);
    }
    // The run checks each file against what was just found before it moves it.
    settings.sourceIdentities = std::move(plan.found);
    PreparedRun prepared = PrepareJournaledRun(std::move(plan.jobs), std::move(settings), false);
    if (!prepared.ready) return status(UndoStatus::kCannotStart, prepared.error);
    undo.ready = std::move(prepared.ready);
    return status(UndoStatus::kReady);
}

std::string ConcludeUndo(PreparedUndo& undo) {
    RealFileSystem fs;
    const std::string folder = RunJournalFolder();
    const int error = MarkUndone(fs, folder, undo.entry.run);
    undo.recordLock.Reset();
    return error == 0 ? std::string() : undo.entry.run.path + ": " + std::strerror(error);
}

}  // namespace morix
