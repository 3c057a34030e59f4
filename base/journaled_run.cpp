#include "base/journaled_run.h"

#include <utility>

#include "base/run_journal_folder.h"
#include "engine/run_history.h"

namespace morix {
namespace {

RenameRunSettings WithJournal(RenameRunSettings settings, RunJournal& journal) {
    settings.journal = &journal;
    return settings;
}

}  // namespace

JournaledRun::JournaledRun(std::string journalFolder, RenameJobs jobs,
                           RenameRunSettings settings, bool keepRecord)
    : journal(journalFolder, fs),
      run(std::move(jobs), fs, WithJournal(std::move(settings), journal)) {
    if (!keepRecord) return;
    // Called on the run's worker, which alone uses fs by then.
    journal.KeepWhenComplete([this, folder = std::move(journalFolder)](const std::string& path) {
        return KeepRunRecord(fs, folder, path, keepError);
    });
}

PreparedRun PrepareJournaledRun(RenameJobs jobs, RenameRunSettings settings,
                                bool keepRecord) {
    PreparedRun prepared;
    std::string folder = MakeRunJournalFolder(prepared.error);
    if (folder.empty()) return prepared;
    prepared.ready = std::make_unique<JournaledRun>(std::move(folder), std::move(jobs),
                                                    std::move(settings), keepRecord);
    return prepared;
}

}  // namespace morix
