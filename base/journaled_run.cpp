#include "base/journaled_run.h"

#include <utility>

#include "base/run_journal_folder.h"

namespace morix {
namespace {

RenameRunSettings WithJournal(RenameRunSettings settings, RunJournal& journal) {
    settings.journal = &journal;
    return settings;
}

}  // namespace

JournaledRun::JournaledRun(std::string journalFolder, std::vector<RenameJob> jobs,
                           RenameRunSettings settings)
    : journal(std::move(journalFolder), fs),
      run(std::move(jobs), fs, WithJournal(std::move(settings), journal)) {}

PreparedRun PrepareJournaledRun(std::vector<RenameJob> jobs, RenameRunSettings settings) {
    PreparedRun prepared;
    std::string folder = MakeRunJournalFolder(prepared.error);
    if (folder.empty()) return prepared;
    prepared.ready =
        std::make_unique<JournaledRun>(std::move(folder), std::move(jobs), std::move(settings));
    return prepared;
}

}  // namespace morix
