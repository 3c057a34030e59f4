#include "base/run_journal_folder.h"

#include <cerrno>
#include <cstring>

#include "base/user_dirs.h"
#include "os/files.h"

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

}  // namespace morix
