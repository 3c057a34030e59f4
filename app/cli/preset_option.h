// --preset NAME: the headless modes start from the options of a saved preset.
#pragma once

#include <cstdio>
#include <span>
#include <string_view>

#include "app/cli/command_line.h"
#include "base/presets.h"

namespace morix::cli {

// Gives commandLine, parsed from args with --preset NAME, the options of the
// preset NAME of book with every other option of args over them. Damaged
// lines of the presets file are named on err. False, with a message on err,
// when the file cannot be read, holds no preset of that name (the names it
// holds follow) or the options together are not valid.
bool ApplyPreset(std::span<const std::string_view> args, std::u16string_view cwd,
                 const PresetBook& book, const std::string& path, CommandLine& commandLine,
                 std::FILE* err);

}  // namespace morix::cli
