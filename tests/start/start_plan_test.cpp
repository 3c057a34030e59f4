// The start plan as a table: one row per command line, the row says what it
// checks.
#include "app/start/start_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/text.h"

namespace morix::start {
namespace {

// A plan as one line of text, so a row can state it. (Built with append: GCC
// 12 warns falsely on chains of string "+".)
std::string Describe(const StartPlan& plan) {
    std::string out;
    const auto add = [&out](std::initializer_list<std::string_view> pieces) {
        for (std::string_view piece : pieces)
            out.append(piece);
    };
    const auto paths = [&add](const std::vector<cli::Source>& sources) {
        for (const cli::Source& s : sources)
            add({" ", EncodeFileName(s.path), s.isFolder ? ":folder" : ":file"});
    };
    if (const auto* e = std::get_if<StartError>(&plan)) {
        add({"error ", e->message});
    } else if (const auto* i = std::get_if<InstallCommand>(&plan)) {
        add({"install ", EncodeFileName(i->type), " '", EncodeFileName(i->extra), "'",
             i->resetUpdateCheck ? " reset" : ""});
    } else if (std::holds_alternative<UninstallCommand>(plan)) {
        add({"uninstall"});
    } else if (std::holds_alternative<ExitCommand>(plan)) {
        add({"exit"});
    } else if (std::holds_alternative<VersionCommand>(plan)) {
        add({"version"});
    } else if (const auto* h = std::get_if<HeadlessRun>(&plan)) {
        add({"headless ", std::to_string(static_cast<int>(h->commandLine.mode))});
        paths(h->commandLine.sources);
    } else if (const auto* o = std::get_if<HandOver>(&plan)) {
        add({"hand over"});
        paths(o->paths);
    } else {
        add({"window"});
        paths(std::get<NormalRun>(plan).paths);
    }
    return out;
}

struct PlanCase {
    const char* what;
    std::vector<std::string_view> args;
    bool another;
    std::string expected;
};

void PrintTo(const PlanCase& c, std::ostream* os) {
    *os << c.what;
}

class PlanTable : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanTable, Decides) {
    const PlanCase& c = GetParam();
    EXPECT_EQ(Describe(PlanStart(c.args, u"/w", c.another)), c.expected) << c.what;
}

const std::string kPreview = std::to_string(static_cast<int>(cli::Mode::kPreview));
const std::string kHelp = std::to_string(static_cast<int>(cli::Mode::kHelp));

INSTANTIATE_TEST_SUITE_P(
    CommandLines, PlanTable,
    ::testing::Values(
        // Installer hook and its suffix grammar.
        PlanCase{"install alone", {"--install"}, false, "install new ''"},
        PlanCase{"install, empty suffix", {"--install="}, false, "install new ''"},
        PlanCase{
            "1: update, rest is extra", {"--install=1abc"}, false, "install update 'abc' reset"},
        PlanCase{"2: refresh", {"--install=2"}, false, "install refresh ''"},
        PlanCase{"other first character dropped", {"--install=7xyz"}, false, "install new 'xyz'"},
        PlanCase{"letter as first character", {"--install=stall"}, false, "install new 'tall'"},
        PlanCase{"install while a renamer runs", {"--install=2"}, true, "install refresh ''"},
        // The first maintenance command wins wherever it stands.
        PlanCase{"uninstall after a path", {"a.txt", "--uninstall"}, false, "uninstall"},
        PlanCase{"uninstall while a renamer runs", {"a.txt", "--uninstall"}, true, "uninstall"},
        PlanCase{"exit with no renamer", {"--exit"}, false, "exit"},
        PlanCase{"exit with a renamer", {"--exit"}, true, "exit"},
        PlanCase{"first of two wins", {"--exit", "--install"}, false, "exit"},
        PlanCase{"beside a headless mode", {"--preview", "a", "--uninstall"}, false, "uninstall"},
        PlanCase{"beside a bad option", {"--bogus", "--uninstall"}, false, "uninstall"},
        // Where an argument is no option, it is no command either.
        PlanCase{"after --", {"--", "--exit"}, false, "window /w/--exit:file"},
        PlanCase{"folder of -d", {"-d", "--exit"}, false, "window /w/--exit:folder"},
        PlanCase{"value of a group", {"-0d", "--exit"}, false, "window /w/--exit:folder"},
        PlanCase{"attached folder", {"--dir=--exit"}, false, "window /w/--exit:folder"},
        PlanCase{"find text",
                 {"--preview", "--find", "--exit", "a"},
                 false,
                 "headless " + kPreview + " /w/a:file"},
        PlanCase{"preset name",
                 {"--preview", "--preset", "--exit", "a"},
                 false,
                 "headless " + kPreview + " /w/a:file"},
        // A pattern is checked only where it is used.
        PlanCase{"bad pattern to preview",
                 {"--preview", "--regex", "--find", "a[", "a"},
                 false,
                 "error --find is not a valid regular expression: missing terminating ] for "
                 "character class (at character 3)"},
        PlanCase{"bad pattern without --regex",
                 {"--preview", "--find", "a[", "a"},
                 false,
                 "headless " + kPreview + " /w/a:file"},
        PlanCase{"bad pattern in a window start",
                 {"--regex", "--find", "a[", "a"},
                 false,
                 "window /w/a:file"},
        PlanCase{
            "a value on the command", {"--exit=1"}, false, "error option '--exit' takes no value"},
        PlanCase{"options are case-sensitive", {"--EXIT"}, false, "error unknown option '--EXIT'"},
        PlanCase{"longer name", {"--installer"}, false, "error unknown option '--installer'"},
        // Paths and folders.
        PlanCase{"-d applies to one path",
                 {"-d", "/Photos", "/a.jpg"},
                 false,
                 "window /Photos:folder /a.jpg:file"},
        PlanCase{"long form", {"--dir", "/Photos", "b"}, false, "window /Photos:folder /w/b:file"},
        PlanCase{"unknown option is an error",
                 {"-d", "/Photos", "--q"},
                 false,
                 "error unknown option '--q'"},
        PlanCase{"unknown short option", {"-q", "/Photos"}, false, "error unknown option '-q'"},
        PlanCase{"-d with nothing after it", {"-d"}, false, "error option '-d' needs a value"},
        PlanCase{"absolute path", {"/a.txt"}, false, "window /a.txt:file"},
        PlanCase{"relative path", {"y.txt"}, false, "window /w/y.txt:file"},
        PlanCase{"no arguments", {}, false, "window"},
        // An empty PATH would stand for the current folder: refused in every mode.
        PlanCase{"empty path", {""}, false, "error an empty PATH names no file"},
        PlanCase{"empty path after --", {"--", ""}, false, "error an empty PATH names no file"},
        PlanCase{"empty path handed over", {"a", ""}, true, "error an empty PATH names no file"},
        PlanCase{"empty path to preview",
                 {"--preview", "a", ""},
                 false,
                 "error an empty PATH names no file"},
        PlanCase{"empty path to rename",
                 {"--rename", "-t", "IMG_#", ""},
                 false,
                 "error an empty PATH names no file"},
        PlanCase{"empty template is no path",
                 {"--preview", "-t", "", "a"},
                 false,
                 "headless " + kPreview + " /w/a:file"},
        // A renamer runs: hand over, in order; headless modes never do.
        PlanCase{"hand over in order",
                 {"c", "-d", "/F", "a"},
                 true,
                 "hand over /w/c:file /F:folder /w/a:file"},
        PlanCase{"nothing to hand over", {}, true, "hand over"},
        PlanCase{"headless while a renamer runs",
                 {"--preview", "a"},
                 true,
                 "headless " + kPreview + " /w/a:file"},
        PlanCase{"help", {"--help"}, true, "headless " + kHelp},
        PlanCase{"version", {"--version"}, true, "version"},
        PlanCase{"version beside a bad option", {"--bogus", "--version"}, false, "version"},
        PlanCase{"exit before version", {"--version", "--exit"}, false, "exit"}));

}  // namespace
}  // namespace morix::start
