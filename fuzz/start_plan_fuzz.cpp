// The start plan of one morix start, from any command line.
//
// Input: one byte (bit 0: another renamer runs; bit 1: the current folder is
// the root), then the arguments, separated by zero bytes as in the kernel's
// argument block.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/cli/command_line.h"
#include "app/start/start_plan.h"
#include "engine/text.h"
#include "fuzz/fuzz_support.h"

using namespace morix;
using namespace morix::start;
using morix::fuzz::Check;

namespace {

void CheckSources(const std::vector<cli::Source>& sources) {
    for (const cli::Source& source : sources) {
        const std::u16string& path = source.path;
        Check(!path.empty() && path.front() == u'/', "a path from the command line is absolute");
        Check(path.size() == 1 || path.back() != u'/', "a path ends with a file name");
    }
}

bool IsMaintenance(const StartPlan& plan) {
    return std::holds_alternative<InstallCommand>(plan) ||
           std::holds_alternative<UninstallCommand>(plan) ||
           std::holds_alternative<ExitCommand>(plan);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool another = (data[0] & 1) != 0;
    const std::u16string cwd = (data[0] & 2) != 0 ? u"/" : u"/home/ann/work";
    std::vector<std::string_view> args;
    if (size > 1) {
        args = morix::fuzz::Split(
            std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), '\0');
    }
    if (args.size() > 64) return 0;

    // Arguments are bytes; the text the program makes of them gives the same
    // bytes back, so no file name is damaged on its way in.
    for (std::string_view arg : args) {
        Check(EncodeFileName(DecodeFileName(arg)) == arg, "an argument's bytes survive decoding");
    }

    const StartPlan plan = PlanStart(args, cwd, another);
    if (const auto* run = std::get_if<HeadlessRun>(&plan)) {
        const cli::CommandLine& line = run->commandLine;
        CheckSources(line.sources);
        Check(line.options.startNumber >= 1 && line.options.startNumber <= 99999999,
              "the start number is in range");
        Check(line.options.increment >= 1 && line.options.increment <= 99999999,
              "the step is in range");
        Check(static_cast<int>(line.options.caseMode) >= 0 &&
                  static_cast<int>(line.options.caseMode) < kCaseModeCount,
              "the case mode is known");
        Check(line.mode != cli::Mode::kNone, "a headless run has a mode");
    }
    if (const auto* handOver = std::get_if<HandOver>(&plan)) {
        Check(another, "paths are handed over only when another renamer runs");
        CheckSources(handOver->paths);
    }
    if (const auto* normal = std::get_if<NormalRun>(&plan)) {
        Check(!another, "the window opens only when no other renamer runs");
        CheckSources(normal->paths);
    }
    if (const auto* install = std::get_if<InstallCommand>(&plan)) {
        Check(install->type == u"new" || install->type == u"update" || install->type == u"refresh",
              "an installation has a known type");
        Check(install->resetUpdateCheck == (install->type == u"update"),
              "only an update checks for a newer version again");
    }
    if (const auto* error = std::get_if<StartError>(&plan)) {
        Check(!error->message.empty(), "an error says what is wrong");
    }

    // Whether another renamer runs changes only where the paths go.
    const StartPlan other = PlanStart(args, cwd, !another);
    Check(
        other.index() == plan.index() ||
            (std::holds_alternative<HandOver>(plan) && std::holds_alternative<NormalRun>(other)) ||
            (std::holds_alternative<NormalRun>(plan) && std::holds_alternative<HandOver>(other)),
        "another renamer changes only where the paths go");

    // --exit decides wherever it stands before "--": added at the end of a
    // line without "--" whose last argument wants no value, it wins over
    // everything but an earlier maintenance command.
    bool hasEnd = false;
    for (std::string_view arg : args)
        hasEnd = hasEnd || arg == "--";
    if (!hasEnd && !IsMaintenance(plan) && (args.empty() || !cli::TakesNextArgument(args.back()))) {
        std::vector<std::string_view> withExit = args;
        withExit.push_back("--exit");
        Check(std::holds_alternative<ExitCommand>(PlanStart(withExit, cwd, another)),
              "--exit decides wherever it stands");
    }
    return 0;
}
