#include "app/cli/recover_command.h"

#include <cstring>
#include <string>

#include "base/run_journal_folder.h"

namespace morix::cli {
namespace {

// The report for a terminal, one line each, every line starting with
// "morix: ". Says nothing about an empty report unless quiet is false.
std::string DescribeRecovery(const RecoveryReport& report, bool quiet) {
    std::string out;
    const auto line = [&out](const std::string& text) { out += "morix: " + text + '\n'; };
    if (report.folderError != 0) {
        line("the journals of rename runs in " + RunJournalFolder() +
             " cannot be read: " + std::strerror(report.folderError) +
             "; a run cut short there cannot be rolled back now.");
    }
    for (const RecoveredRun& run : report.runs) {
        const std::string which =
            "a rename run that was cut short (process " + std::to_string(run.pid) + ")";
        if (!run.damage.empty()) {
            line("the journal " + run.journalPath + " cannot be read: " + run.damage +
                 "; no file was touched. It stays until you have checked the files it names "
                 "and removed it.");
            continue;
        }
        if (run.accessError != 0) {
            line("the journal " + run.journalPath + " cannot be opened or read now: " +
                 std::strerror(run.accessError) + "; no file was touched. The next start tries "
                 "again.");
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
        if (report.runs.empty() && report.liveRuns.empty() && report.folderError == 0)
            line("no rename run was cut short; nothing to do.");
    }
    return out;
}

}  // namespace

int RunRecover(std::FILE* err) {
    const RecoveryReport report = RecoverInterruptedRuns();
    std::fputs(DescribeRecovery(report, false).c_str(), err);
    return report.Complete() ? 0 : 1;
}

void RecoverAtStart(std::FILE* err) {
    std::fputs(DescribeRecovery(RecoverInterruptedRuns(), true).c_str(), err);
}

}  // namespace morix::cli
