#include "update/process_launch.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "base/program_files.h"
#include "base/program_path.h"
#include "engine/paths.h"
#include "engine/text.h"

extern char** environ;

namespace morix {

namespace {

void WaitForChild(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

bool LaunchProcess(const std::vector<std::u16string>& argv, bool wait,
                   std::u16string_view workingDir) {
    if (argv.empty() || argv[0].empty()) return false;
    std::vector<std::string> bytes;
    bytes.reserve(argv.size());
    for (const std::u16string& arg : argv)
        bytes.push_back(EncodeFileName(arg));
    std::vector<char*> args;
    args.reserve(bytes.size() + 1);
    for (std::string& arg : bytes)
        args.push_back(arg.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    bool ready = posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
    const std::string folder = EncodeFileName(workingDir);
    if (ready && !folder.empty())
        ready = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0;

    pid_t pid = 0;
    // The program's path is taken as given, never searched for.
    const bool started =
        ready && ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) return false;
    if (wait) {
        WaitForChild(pid);
    } else {
        try {
            std::thread([pid] { WaitForChild(pid); }).detach();
        } catch (const std::system_error&) {
            // No thread for the reaper: the child still runs and is reaped
            // when this process ends.
        }
    }
    return true;
}

bool LaunchProcessAtMediumIntegrity(const std::vector<std::u16string>& argv, bool wait,
                                    std::u16string_view workingDir) {
    return LaunchProcess(argv, wait, workingDir);
}

bool IsProtectedModeUrl(std::u16string_view) {
    return false;
}

std::u16string GetModulePath() {
    return DecodeFileName(CurrentProgramPath());
}

std::u16string GetModuleFolder() {
    return std::u16string(Folder(GetModulePath()));
}

std::u16string GetHelperFolder() {
    return DecodeFileName(ProgramFilesFolder(ProgramFiles::kHelpers));
}

bool AppendPath(std::u16string& path, const char16_t* name) {
    if (name == nullptr) return false;
    path = CombinePath(path, name);
    return true;
}

bool IsFile(std::u16string_view path) {
    if (path.empty()) return false;
    struct stat st;
    return ::stat(EncodeFileName(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace morix
