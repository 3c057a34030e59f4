// The command line of the headless modes, parsed into the options of one
// computation and the files to collect.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/capture_date_cache.h"
#include "engine/rename_list.h"
#include "engine/rename_options.h"

namespace morix::cli {

enum class Mode {
    kNone,     // no mode given
    kHelp,     // --help
    kPreview,  // --preview: print the new names
    kRename,   // --rename: rename the files
    kRecover,  // --recover: roll back rename runs that were cut short
    kUndo,     // --undo[=ID]: take back a completed run
    kHistory,  // --history: list the completed runs kept for undo
};

// A PATH argument (added as one item) or a --dir FOLDER (its files).
struct Source {
    std::u16string path;  // absolute
    bool isFolder = false;
};

struct CommandLine {
    Mode mode = Mode::kNone;
    RenameOptions options;
    bool keepOrder = false;   // --sort none
    bool nullOutput = false;  // -0
    bool verbose = false;     // --verbose
    bool check = false;       // --check (preview only)
    std::vector<Source> sources;
    std::optional<std::u16string> presetName;  // --preset NAME
    std::uint64_t undoId = 0;                  // --undo=ID; 0: the most recent run
};

struct CommandLineError {
    std::string message;  // one line, without the program name
};

// args excludes the program name. cwd makes relative paths absolute. The
// options start as base (a preset's) and the command line's own override
// them. With --regex, a find text or replacement that cannot be used is an
// error.
std::variant<CommandLine, CommandLineError> ParseCommandLine(std::span<const std::string_view> args,
                                                             std::u16string_view cwd,
                                                             const RenameOptions& base = {});

// The current working folder, decoded; "/" when it cannot be read.
std::u16string CurrentFolder();

// Whether every PATH exists (a dangling link does) and every --dir FOLDER
// can be read; names each that does not on err, one line each, with the
// reason.
bool CheckSources(const CommandLine& commandLine, std::FILE* err);

// Adds the sources to list in command-line order and returns the rows in
// display order: sorted by the sort key unless --sort none was given. A
// folder that cannot be read adds nothing and is reported on err. Capture
// dates read for the sort stay in dates, for the names. Takes the sources out
// of commandLine, each as soon as its files are in the list: a command line
// can name a great many files, and they are not held twice.
std::vector<std::uint32_t> CollectRows(CommandLine& commandLine, RenameList& list,
                                       CaptureDateCache& dates, std::FILE* err = stderr);

// Names on err the files of the rows whose regular expression a limit
// stopped (their names lack the replacement), a few of them and the count.
void ReportRegexStopped(const RenameList& list, std::span<const std::uint32_t> rows,
                        const std::vector<std::size_t>& stopped, std::FILE* err);

void PrintUsage(std::FILE* out);

// Whether arg is an option that takes the next argument as its value
// ("--dir FOLDER", "-t TEXT", "-0d FOLDER"), so that argument is no option.
bool TakesNextArgument(std::string_view arg);

}  // namespace morix::cli
