// Test helper: drives the settings file from a process of its own.
//
//   settings_writer many  FILE PREFIX COUNT   writes PREFIX0=dword:0 ... one write each
//   settings_writer watch FILE TOTAL          reads until TOTAL values are there; fails
//                                             when a read sees a damaged or shrinking file
//   settings_writer crash FILE NAME VALUE     dies after the new file is complete and
//                                             before it replaces the old one
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "base/settings_file.h"
#include "base/user_dirs.h"
#include "os/files.h"

using namespace morix;

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "many" && argc == 5) {
        FileSettingsBackend backend(argv[2]);
        const unsigned count = static_cast<unsigned>(std::atoi(argv[4]));
        for (unsigned i = 0; i < count; ++i) {
            if (!backend.Write(std::string(argv[3]) + std::to_string(i), StoredValue(i))) {
                std::fprintf(stderr, "write %u failed\n", i);
                return 1;
            }
        }
        return 0;
    }
    if (mode == "watch" && argc == 4) {
        const std::size_t total = static_cast<std::size_t>(std::atoi(argv[3]));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::size_t seen = 0;
        while (seen < total) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (std::chrono::steady_clock::now() > deadline) {
                std::fprintf(stderr, "only %zu of %zu values arrived\n", seen, total);
                return 1;
            }
            const auto text = ReadSmallFile(argv[2], FileSettingsBackend::kMaxFileBytes);
            if (!text) continue;
            const ParsedSettingsFile parsed = ParseSettingsFile(*text);
            if (parsed.damagedLines != 0 || parsed.entries.size() < seen) {
                std::fprintf(stderr, "read %zu values, %zu damaged lines, after %zu\n",
                             parsed.entries.size(), parsed.damagedLines, seen);
                return 1;
            }
            seen = parsed.entries.size();
        }
        return 0;
    }
    if (mode == "crash" && argc == 5) {
        FileSettingsBackend backend(argv[2], [] { ::kill(::getpid(), SIGKILL); });
        backend.Write(argv[3], StoredValue(static_cast<std::uint32_t>(std::atoi(argv[4]))));
        return 0;  // not reached when the write gets as far as replacing the file
    }
    std::fprintf(stderr, "bad arguments\n");
    return 2;
}
