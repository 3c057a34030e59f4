#include "app/cli/preset_option.h"

#include <string>

#include "engine/text.h"

namespace morix::cli {

bool ApplyPreset(std::span<const std::string_view> args, std::u16string_view cwd,
                 const PresetBook& book, const std::string& path, CommandLine& commandLine,
                 std::FILE* err) {
    const std::string name = EncodeFileName(commandLine.presetName.value_or(u""));
    if (!book.readable) {
        std::fprintf(err, "morix: cannot read the presets file %s\n", path.c_str());
        return false;
    }
    for (const PresetBook::DamagedLine& line : book.damaged) {
        std::fprintf(err, "morix: %s: line %zu cannot be read and is left out: %s\n", path.c_str(),
                     line.number, line.text.c_str());
    }
    const Preset* preset = FindPreset(book, *commandLine.presetName);
    if (preset == nullptr) {
        std::string names;
        for (const Preset& p : book.presets)
            names += "\n  " + EncodeFileName(p.name);
        std::fprintf(
            err, "morix: there is no preset named '%s'; %s%s\n", name.c_str(),
            book.presets.empty() ? "there are no presets" : "the presets are:", names.c_str());
        return false;
    }
    auto parsed = ParseCommandLine(args, cwd, preset->options);
    if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
        std::fprintf(err, "morix: with preset '%s': %s\n", name.c_str(), error->message.c_str());
        return false;
    }
    commandLine = std::move(std::get<CommandLine>(parsed));
    return true;
}

}  // namespace morix::cli
