#include "app/cli/undo_command.h"

#include <ctime>
#include <string>

#include "app/cli/rename_command.h"
#include "base/run_history.h"

namespace morix::cli {
namespace {

constexpr char kAlreadyExists[] = "There is already a file with the same name in this location.";

std::string LocalTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[32] = "?";
    if (localtime_r(&t, &local) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Why the undo did not start, on err; the exit status.
int ReportNotReady(const PreparedUndo& undo, std::FILE* err) {
    const std::string run = "run " + std::to_string(undo.entry.run.id);
    switch (undo.status) {
        case UndoStatus::kReady:
            break;
        case UndoStatus::kNothingToUndo:
            std::fputs(
                "morix: nothing to undo: every kept rename run is undone already, or none "
                "was kept\n",
                err);
            return kUndoNothing;
        case UndoStatus::kUnknownRun:
            std::fputs(
                "morix: nothing to undo: no kept rename run has that id (see morix "
                "--history)\n",
                err);
            return kUndoNothing;
        case UndoStatus::kAlreadyUndone:
            std::fprintf(err, "morix: cannot undo %s: already undone\n", run.c_str());
            return kUndoRefused;
        case UndoStatus::kBusy:
            std::fprintf(err, "morix: cannot undo %s: another process is undoing it\n",
                         run.c_str());
            return kUndoRefused;
        case UndoStatus::kDamaged:
            std::fprintf(err,
                         "morix: cannot undo %s: its record is damaged (%s); nothing was touched\n",
                         run.c_str(), undo.problem.c_str());
            return kUndoRefused;
        case UndoStatus::kNewerRun:
            std::fprintf(err,
                         "morix: cannot undo %s: run %llu, which is newer and not undone, renamed "
                         "some of the same files; undo run %llu first. Nothing was touched\n",
                         run.c_str(), static_cast<unsigned long long>(undo.newerId),
                         static_cast<unsigned long long>(undo.newerId));
            return kUndoRefused;
        case UndoStatus::kFilesChanged:
            std::fprintf(err, "morix: cannot undo %s: %zu %s since the run; nothing was touched:\n",
                         run.c_str(), undo.changed.size(),
                         undo.changed.size() == 1 ? "file changed" : "files changed");
            for (const ChangedFile& changed : undo.changed)
                std::fprintf(err, "morix:   %s\n", DescribeChange(changed).c_str());
            return kUndoRefused;
        case UndoStatus::kCannotStart:
            std::fprintf(err, "morix: cannot undo %s: %s\n",
                         undo.entry.run.id == 0 ? "a run" : run.c_str(), undo.problem.c_str());
            return kUndoRolledBack;
    }
    return kUndoRolledBack;
}

}  // namespace

int RunUndo(std::uint64_t id, std::FILE* err) {
    RenameRunSettings settings;
    settings.onWaitForFolder = [err](const std::string& folder) {
        std::fprintf(err, "morix: another rename run is working in %s; waiting for it to end\n",
                     folder.c_str());
    };
    PreparedUndo undo = PrepareUndo(id, std::move(settings));
    if (undo.status != UndoStatus::kReady) return ReportNotReady(undo, err);
    RenameRun& run = undo.ready->run;
    const std::string which = "run " + std::to_string(undo.entry.run.id);
    if (!run.Start()) {
        std::fprintf(err, "morix: cannot undo %s: the run could not start\n", which.c_str());
        return kUndoRolledBack;
    }
    WaitForRun(run, err);
    switch (run.Outcome()) {
        case RenameOutcome::kRenamed:
            break;
        case RenameOutcome::kTargetExists:
            std::fprintf(err, "morix: %s\nmorix: cannot undo %s; nothing was touched\n",
                         kAlreadyExists, which.c_str());
            return kUndoRefused;
        case RenameOutcome::kRolledBack:
            ReportRolledBack(run, undo.ready->journal, err);
            return kUndoRolledBack;
    }
    if (const std::string error = ConcludeUndo(undo); !error.empty()) {
        std::fprintf(err,
                     "morix: the files are back under their old names, but %s could not be "
                     "marked undone: %s\n",
                     which.c_str(), error.c_str());
    }
    std::fprintf(err, "morix: %s was undone: %zu %s back under %s old %s\n", which.c_str(),
                 undo.entry.files, undo.entry.files == 1 ? "file is" : "files are",
                 undo.entry.files == 1 ? "its" : "their", undo.entry.files == 1 ? "name" : "names");
    return kUndoDone;
}

int RunHistory(std::FILE* out, std::FILE* err) {
    std::string error;
    const std::vector<HistoryEntry> entries = ReadRunHistory(error);
    if (!error.empty()) {
        std::fprintf(err, "morix: the kept rename runs cannot be read: %s\n", error.c_str());
        return 1;
    }
    if (entries.empty()) {
        std::fputs("morix: no rename run has been kept yet\n", err);
        return 0;
    }
    std::string text;
    for (const HistoryEntry& entry : entries) {
        text += std::to_string(entry.run.id);
        if (!entry.damage.empty()) {
            text += "\tdamaged record: " + entry.damage + '\n';
            continue;
        }
        text += '\t' + LocalTime(entry.started) + '\t' + std::to_string(entry.files) +
                (entry.files == 1 ? " file\t" : " files\t") +
                (entry.run.undone ? "undone" : "done");
        for (std::size_t k = 0; k < entry.folders.size(); ++k)
            text += (k == 0 ? "\t" : ", ") + entry.folders[k];
        text += '\n';
    }
    std::fwrite(text.data(), 1, text.size(), out);
    return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace morix::cli
