#include "app/start/start_plan.h"

#include <optional>

#include "engine/text.h"

namespace morix::start {
namespace {

// The install command for "--install" (suffix absent) or "--install=SUFFIX".
InstallCommand Install(std::optional<std::string_view> suffix) {
    InstallCommand command{u"new", u"", false};
    if (!suffix || suffix->empty()) return command;
    command.extra = DecodeFileName(suffix->substr(1));
    if (suffix->front() == '1') {
        command.type = u"update";
        command.resetUpdateCheck = true;
    } else if (suffix->front() == '2') {
        command.type = u"refresh";
    }
    return command;
}

// The first maintenance command among the options, if any.
std::optional<StartPlan> MaintenanceCommand(std::span<const std::string_view> args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--") break;
        if (arg == "--install") return Install(std::nullopt);
        if (arg.starts_with("--install=")) return Install(arg.substr(10));
        if (arg == "--uninstall") return UninstallCommand{};
        if (arg == "--exit") return ExitCommand{};
        if (cli::TakesNextArgument(arg)) ++i;  // a value, such as a folder named "--exit"
    }
    return std::nullopt;
}

bool AsksForVersion(std::span<const std::string_view> args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") break;
        if (args[i] == "--version") return true;
        if (cli::TakesNextArgument(args[i])) ++i;
    }
    return false;
}

}  // namespace

StartPlan PlanStart(std::span<const std::string_view> args, std::u16string_view cwd,
                    bool anotherInstanceExists) {
    if (std::optional<StartPlan> maintenance = MaintenanceCommand(args)) return *maintenance;
    if (AsksForVersion(args)) return VersionCommand{};

    auto parsed = cli::ParseCommandLine(args, cwd);
    if (auto* error = std::get_if<cli::CommandLineError>(&parsed)) {
        return StartError{std::move(error->message)};
    }
    cli::CommandLine& commandLine = std::get<cli::CommandLine>(parsed);
    if (commandLine.mode != cli::Mode::kNone) return HeadlessRun{std::move(commandLine)};
    if (anotherInstanceExists) return HandOver{std::move(commandLine.sources)};
    return NormalRun{std::move(commandLine.sources)};
}

void PrintStartUsage(std::FILE* out) {
    std::fputs(
        "Usage: morix [--] [PATH | -d FOLDER]...\n"
        "       morix --install[=SUFFIX] | --uninstall | --exit | --version\n"
        "\n"
        "Opens the renamer's window with the given files in its list; -d FOLDER adds\n"
        "the files directly inside FOLDER. While a renamer window is open, a new start\n"
        "hands its paths to that window, brings it to the front and ends.\n"
        "\n"
        "      --install[=SUFFIX]  register with the desktop (file-manager actions,\n"
        "                          \"Open With\") and tell the version service\n"
        "      --uninstall       close the renamer and its notice, remove the registration\n"
        "      --exit            close the renamer and its notice\n"
        "      --version         show the version\n"
        "\n",
        out);
    cli::PrintUsage(out);
}

}  // namespace morix::start
