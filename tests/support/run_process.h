// Runs a program as a real child process and collects what it printed, or
// starts one in the background and waits for its end.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace morix::testing {

struct ProcessResult {
    int exitCode = -1;  // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

inline std::string SlurpAndRemove(const std::string& file) {
    std::string text;
    if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    std::remove(file.c_str());
    return text;
}

// Starts argv[0] (a path, or a name looked up in PATH) with the given file
// actions (destroyed here) and the current environment.
inline pid_t Spawn(const std::vector<std::string>& argv, posix_spawn_file_actions_t& actions) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("posix_spawn failed for " + argv[0]);
    return pid;
}

// argv[0] is the program's path. Output goes through temporary files, so a
// large output cannot block the child. workDir empty: the current folder.
inline ProcessResult RunProcess(const std::vector<std::string>& argv,
                                const std::string& workDir = {}) {
    char outName[] = "/tmp/morix-out-XXXXXX";
    char errName[] = "/tmp/morix-err-XXXXXX";
    const int outFd = ::mkstemp(outName);
    const int errFd = ::mkstemp(errName);
    if (outFd < 0 || errFd < 0) throw std::runtime_error("mkstemp failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());

    const pid_t pid = Spawn(argv, actions);
    ::close(outFd);
    ::close(errFd);

    int status = 0;
    ::waitpid(pid, &status, 0);
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = SlurpAndRemove(outName);
    result.err = SlurpAndRemove(errName);
    return result;
}

// Starts a program without waiting for it: input from /dev/null, output and
// errors appended to logFile. handOver, when not -1, is passed on as
// descriptor handOverAs. The caller waits for the returned process.
inline pid_t StartProcess(const std::vector<std::string>& argv,
                          const std::string& logFile = "/dev/null", int handOver = -1,
                          int handOverAs = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (handOver >= 0) posix_spawn_file_actions_adddup2(&actions, handOver, handOverAs);
    return Spawn(argv, actions);
}

// The exit code once the process has ended within the time (128 + the signal
// when a signal ended it), else nothing and the process is left running.
inline std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 || std::chrono::steady_clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace morix::testing
