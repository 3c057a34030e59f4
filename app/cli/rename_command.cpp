#include "app/cli/rename_command.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <span>
#include <string>
#include <utility>

#include "base/journaled_run.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/rename_run.h"
#include "engine/row_check.h"
#include "engine/safe_move.h"
#include "engine/text.h"

namespace morix::cli {
namespace {

constexpr char kUnableToRename[] = "Unable to rename the file.";
constexpr char kAlreadyExists[] = "There is already a file with the same name in this location.";

void DrawBar(std::FILE* err, int done, int total) {
    constexpr int kWidth = 40;
    const int filled =
        total > 0 ? static_cast<int>(static_cast<long long>(done) * kWidth / total) : kWidth;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), ' ');
    std::fprintf(err, "\rRenaming... [%s] %d/%d", bar.c_str(), done, total);
    std::fflush(err);
}

}  // namespace

// Waits for the run, showing a progress bar on a terminal once it has taken
// more than a second.
void WaitForRun(RenameRun& run, std::FILE* err) {
    const bool terminal = isatty(fileno(err)) == 1;
    const auto start = std::chrono::steady_clock::now();
    bool drawn = false;
    while (!run.Join(100)) {
        if (terminal && std::chrono::steady_clock::now() - start > std::chrono::seconds(1)) {
            DrawBar(err, run.Progress().GetPos(), run.Progress().GetMax());
            drawn = true;
        }
    }
    if (drawn) {
        DrawBar(err, run.Progress().GetPos(), run.Progress().GetMax());
        std::fputc('\n', err);
    }
}

// Why a run was rolled back: the file that could not move and the reason,
// every file that could not be put back, and the journal kept for them.
void ReportRolledBack(const RenameRun& run, const RunJournal& journal, std::FILE* err) {
    std::fprintf(err, "morix: %s\n", kUnableToRename);
    for (const RenameJob& job : run.Jobs()) {
        if (job.error != 0) {
            std::fprintf(err, "morix: cannot rename %s to %s: %s\n",
                         std::string(job.oldPath).c_str(), std::string(job.newPath).c_str(),
                         MoveFailureText(job.error).c_str());
        }
    }
    for (const RenameJob& job : run.Jobs()) {
        const std::string_view at = job.done ? job.newPath : job.tempPath;
        if ((job.done && job.oldPath != job.newPath) || !job.tempPath.empty()) {
            std::fprintf(err, "morix: left at %s (was %s)\n", std::string(at).c_str(),
                         std::string(job.oldPath).c_str());
        }
    }
    if (journal.Unfinished()) {
        std::fprintf(err, "morix: the run's journal stays at %s; morix --recover tries again\n",
                     journal.Path().c_str());
    }
}

namespace {

// "old -> new" for every renamed file; false when out could not take it.
bool ListRenamed(const RenameRun& run, std::FILE* out) {
    std::string buffer;
    for (const RenameJob& job : run.Jobs()) {
        if (job.oldPath != job.newPath) {
            buffer += job.oldPath;
            buffer += " -> ";
            buffer += job.newPath;
            buffer += '\n';
        }
    }
    std::fwrite(buffer.data(), 1, buffer.size(), out);
    return std::fflush(out) == 0 && !std::ferror(out);
}

// Names every row whose new name its volume cannot hold; whether there was
// any. Such a run would fail at that file and roll back all others.
bool ReportImpossibleNames(const RenameList& list, std::span<const std::uint32_t> rows,
                           const NameList& names, std::FILE* err) {
    // A name is judged on its own, so the rows are checked a slice at a time:
    // the check's own lists stay small beside the list of a large run.
    constexpr std::size_t kSlice = 65536;
    RealFileSystem fs;
    bool any = false;
    for (std::size_t first = 0; first < rows.size(); first += kSlice) {
        const std::size_t count = std::min(kSlice, rows.size() - first);
        const auto pathOf = [&](std::size_t j) { return list.ItemAt(rows[first + j]); };
        const auto nameOf = [&](std::size_t j) { return names[first + j]; };
        const std::vector<RowCheck> checks =
            CheckRows(fs, count, pathOf, nameOf, RowCheckScope::kNamesOnly);
        for (std::size_t j = 0; j < count; ++j) {
            if (checks[j].state != RowState::kImpossible) continue;
            any = true;
            std::fprintf(err, "morix: impossible: %s -> %s: %s\n",
                         EncodeFileName(pathOf(j).Whole()).c_str(),
                         EncodeFileName(nameOf(j)).c_str(), ProblemText(checks[j].problem));
        }
    }
    return any;
}

}  // namespace

int RunRename(CommandLine commandLine, std::FILE* out, std::FILE* err) {
    // A file that is not there would only make the run fail and roll back
    // after moving others; refuse the command line before anything moves.
    if (!CheckSources(commandLine, err)) return kRenameBadSource;
    RenameJobs jobs;
    {
        // The list and its names go before the run needs memory of its own.
        RenameList list;
        CaptureDateCache dates;
        const std::vector<std::uint32_t> rows = CollectRows(commandLine, list, dates);
        NameList names;
        {
            NameRegistry registry;
            names = ComputeNewNames(list, rows, commandLine.options, registry, &dates);
        }
        if (!names.RegexStoppedRows().empty()) {
            ReportRegexStopped(list, rows, names.RegexStoppedRows(), err);
            return kRenameBadSource;
        }
        if (ReportImpossibleNames(list, rows, names, err)) return kRenameTargetTaken;
        jobs = BuildRenameJobs(list, rows, names);
    }
    // The pages the list and its names freed stay with the heap, while the
    // run's large tables come from fresh mappings and would not reuse them:
    // they go back to the system first.
    malloc_trim(0);
    RenameRunSettings settings;
    settings.onWaitForFolder = [err](const std::string& folder) {
        std::fprintf(err, "morix: another rename run is working in %s; waiting for it to end\n",
                     folder.c_str());
    };
    PreparedRun prepared = PrepareJournaledRun(std::move(jobs), std::move(settings));
    if (!prepared.ready) {
        std::fprintf(err, "morix: cannot keep a journal of the run: %s\nmorix: %s\n",
                     prepared.error.c_str(), kUnableToRename);
        return kRenameRolledBack;
    }
    RenameRun& run = prepared.ready->run;
    const RunJournal& journal = prepared.ready->journal;
    if (!run.Start()) {
        std::fprintf(err, "morix: %s\n", kUnableToRename);
        return kRenameRolledBack;
    }
    WaitForRun(run, err);
    if (!journal.Error().empty() && run.Outcome() != RenameOutcome::kRenamed) {
        std::fprintf(err, "morix: cannot keep a journal of the run: %s\n", journal.Error().c_str());
    }

    switch (run.Outcome()) {
        case RenameOutcome::kRenamed:
            break;
        case RenameOutcome::kTargetExists:
            std::fprintf(err, "morix: %s\n", kAlreadyExists);
            return kRenameTargetTaken;
        case RenameOutcome::kRolledBack:
            ReportRolledBack(run, journal, err);
            return kRenameRolledBack;
    }
    if (journal.KeptPath().empty() && prepared.ready->keepError.Failed()) {
        std::fprintf(err,
                     "morix: the run cannot be undone later: its record could not be kept (%s)\n",
                     prepared.ready->keepError.Text().c_str());
    }

    if (journal.Unfinished()) {
        // Every file has its new name, but the next start would take the run
        // for one cut short and put them back.
        std::fprintf(err,
                     "morix: the files were renamed, but the run's journal %s could be neither "
                     "marked finished nor removed (%s); remove it before morix starts again, or "
                     "the next start puts the old names back\n",
                     journal.Path().c_str(), journal.Error().c_str());
        return kRenameRolledBack;
    }
    if (commandLine.verbose && !ListRenamed(run, out)) return kRenameRolledBack;
    return kRenameDone;
}

}  // namespace morix::cli
