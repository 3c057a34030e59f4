// What one start of morix does, decided from its arguments alone: a
// maintenance command for installers, a headless mode, handing the paths to
// the renamer that already runs, or the window with the paths in its list.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/cli/command_line.h"

namespace morix::start {

// --install[=SUFFIX]: tell the version service about the installation and
// register with the desktop. SUFFIX "1extra" is an update (and the next
// window start checks for a newer version again), "2" a refresh, anything else
// a new installation; the text after its first character is the extra.
struct InstallCommand {
    std::u16string type;  // "new", "update" or "refresh"
    std::u16string extra;
    bool resetUpdateCheck = false;
};
// --uninstall: close running renamers and the popup, remove the registration.
struct UninstallCommand {};
// --exit: close running renamers and the popup.
struct ExitCommand {};
struct VersionCommand {};
// A mode without a window (--preview, --rename, --help, ...), as parsed.
struct HeadlessRun {
    cli::CommandLine commandLine;
};
// Another renamer runs: give it these paths, in this order.
struct HandOver {
    std::vector<cli::Source> paths;
};
// The first renamer: open the window with these paths in the list.
struct NormalRun {
    std::vector<cli::Source> paths;
};
struct StartError {
    std::string message;  // one line, without the program name
};

using StartPlan = std::variant<StartError, InstallCommand, UninstallCommand, ExitCommand,
                               VersionCommand, HeadlessRun, HandOver, NormalRun>;

// args excludes the program name; cwd makes relative paths absolute. The
// first of --install, --uninstall and --exit decides wherever it stands (up
// to "--"), whatever else the line holds and whether or not another renamer
// runs; every other line is read by the headless modes' parser.
StartPlan PlanStart(std::span<const std::string_view> args, std::u16string_view cwd,
                    bool anotherInstanceExists);

// The whole usage text: window, maintenance commands and headless modes.
void PrintStartUsage(std::FILE* out);

}  // namespace morix::start
