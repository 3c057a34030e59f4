#include "app/recovery/run_journals.h"

#include <cerrno>
#include <cstring>

#include "app/settings/user_dirs.h"

namespace morix {

std::string RunJournalFolder() {
    const std::string state = UserStateHome();
    if (state.empty()) return {};
    return state + (state.back() == '/' ? "" : "/") + "Vantorel/Trelvo Renamer/runs";
}

std::string MakeRunJournalFolder(std::string& error) {
    const std::string folder = RunJournalFolder();
    if (folder.empty()) {
        error = "the home folder is not known";
        return {};
    }
    if (!MakeFolders(folder, 0700)) {
        error = folder + ": " + std::strerror(errno);
        return {};
    }
    return folder;
}

RecoveryReport RecoverInterruptedRuns() {
    const std::string folder = RunJournalFolder();
    if (folder.empty()) return {};
    RealFileSystem fs;
    return RecoverInterruptedRuns(folder, fs);
}

std::string DescribeRecovery(const RecoveryReport& report, bool quiet) {
    std::string out;
    const auto line = [&out](const std::string& text) { out += "morix: " + text + '\n'; };
    for (const RecoveredRun& run : report.runs) {
        const std::string which =
            "a rename run that was cut short (process " + std::to_string(run.pid) + ")";
        if (!run.damage.empty()) {
            line("the journal " + run.journalPath + " cannot be read: " + run.damage +
                 "; no file was touched. It stays until you have checked the files it names "
                 "and removed it.");
            continue;
        }
        if (run.Complete()) {
            line(which + " was rolled back: " + std::to_string(run.returned) + " of its " +
                 std::to_string(run.files) + " files returned to their old names.");
            continue;
        }
        line(which + " could not be rolled back completely: " +
             std::to_string(run.unreturned.size()) + " of its " + std::to_string(run.files) +
             " files are not under their old names. Its journal stays at " + run.journalPath +
             "; run morix --recover again once the obstacles are gone.");
        for (const UnreturnedFile& file : run.unreturned) {
            std::string text = "  " + file.oldPath;
            if (file.at.empty()) {
                text += file.error != 0 ? std::string(": ") + std::strerror(file.error)
                                        : ": not found under its old, new or a parking name";
            } else {
                text += " is still at " + file.at;
                if (file.error != 0) text += std::string(": ") + std::strerror(file.error);
            }
            line(text);
        }
    }
    if (!quiet) {
        for (const std::string& journal : report.liveRuns)
            line("a rename run is still in progress (" + journal + "); left alone.");
        if (report.runs.empty() && report.liveRuns.empty())
            line("no rename run was cut short; nothing to do.");
    }
    return out;
}

}  // namespace morix
