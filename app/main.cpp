// Entry point of morix.
#include <cstdio>
#include <string_view>
#include <variant>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/preview_command.h"
#include "app/cli/recover_command.h"
#include "app/cli/rename_command.h"
#include "ui/qt/main_window_entry.h"

int main(int argc, char** argv) {
    using namespace morix::cli;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    auto parsed = ParseCommandLine(args, CurrentFolder());
    if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
        std::fprintf(stderr, "morix: %s\n", error->message.c_str());
        std::fputs("Try 'morix --help' for more information.\n", stderr);
        return 2;
    }
    const CommandLine& commandLine = std::get<CommandLine>(parsed);
    switch (commandLine.mode) {
        case Mode::kPreview:
            RecoverAtStart(stderr);
            return RunPreview(commandLine, stdout);
        case Mode::kRename:
            RecoverAtStart(stderr);
            return RunRename(commandLine, stdout, stderr);
        case Mode::kRecover:
            return RunRecover(stderr);
        case Mode::kHelp:
            PrintUsage(stdout);
            return 0;
        case Mode::kNone: {
            std::vector<morix::ui::StartPath> paths;
            for (const Source& source : commandLine.sources) {
                paths.push_back({source.path, source.isFolder});
            }
            return morix::ui::RunMainWindow(argc, argv, paths);
        }
    }
    return 0;
}
