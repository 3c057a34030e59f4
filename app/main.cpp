// Entry point of morix.
#include <malloc.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/preset_option.h"
#include "app/cli/preview_command.h"
#include "app/cli/recover_command.h"
#include "app/cli/rename_command.h"
#include "app/cli/undo_command.h"
#include "app/start/instance_lock.h"
#include "app/start/start_plan.h"
#include "app/window_module/window_module.h"
#include "base/runtime_folder.h"

int main(int argc, char** argv) {
    using namespace morix::cli;
    namespace start = morix::start;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    // Whether a renamer runs already: its lock is held. Taken here, it stays
    // held for the life of this process when this start opens the window
    // (also while the notice is launched after the window has closed).
    const std::optional<std::string> runtimeFolder = morix::PrivateRuntimeFolder();
    start::InstanceLock instance;
    const bool anotherInstanceExists =
        runtimeFolder && instance.TryAcquire(start::InstanceLockPath(*runtimeFolder)) ==
                             start::InstanceLock::Result::kHeldElsewhere;
    start::StartPlan plan = start::PlanStart(args, CurrentFolder(), anotherInstanceExists);
    if (const auto* error = std::get_if<start::StartError>(&plan)) {
        std::fprintf(stderr, "morix: %s\n", error->message.c_str());
        std::fputs("Try 'morix --help' for more information.\n", stderr);
        return 2;
    }
    // Only the window keeps the lock; every other start lets go at once.
    if (!std::holds_alternative<start::NormalRun>(plan)) instance.Release();
    auto* headless = std::get_if<start::HeadlessRun>(&plan);
    if (headless == nullptr) {
        return morix::window_module::CarryOut(std::move(plan), instance, runtimeFolder, argv[0]);
    }

    // A headless start works in phases, each with short-lived helper
    // threads: with one heap for every thread, a phase reuses what the last
    // one freed instead of growing a heap of its own per thread.
    mallopt(M_ARENA_MAX, 1);
    // Taken from the plan, not copied: a command line can name many files.
    CommandLine commandLine = std::move(headless->commandLine);
    if (commandLine.presetName &&
        (commandLine.mode == Mode::kPreview || commandLine.mode == Mode::kRename)) {
        const morix::PresetFile presets = morix::PresetFile::UserFile();
        if (!ApplyPreset(args, CurrentFolder(), presets.Load(), presets.path(), commandLine,
                         stderr)) {
            return 2;
        }
    }
    switch (commandLine.mode) {
        case Mode::kPreview:
            RecoverAtStart(stderr);
            return RunPreview(std::move(commandLine), stdout, stderr);
        case Mode::kRename:
            RecoverAtStart(stderr);
            return RunRename(std::move(commandLine), stdout, stderr);
        case Mode::kRecover:
            return RunRecover(stderr);
        case Mode::kUndo:
            RecoverAtStart(stderr);
            return RunUndo(commandLine.undoId, stderr);
        case Mode::kHistory:
            RecoverAtStart(stderr);
            return RunHistory(stdout, stderr);
        case Mode::kHelp:
            start::PrintStartUsage(stdout);
            return 0;
        case Mode::kNone:
            break;  // a window start is never headless
    }
    return 0;
}
