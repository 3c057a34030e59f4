// The presets file reader, on any text a presets file may hold.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "base/presets.h"
#include "fuzz/fuzz_support.h"

using namespace morix;
using morix::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const PresetBook book = ParsePresets(text);

    std::set<std::u16string> names;
    for (const Preset& preset : book.presets) {
        Check(!preset.name.empty(), "a preset read has a name");
        Check(names.insert(preset.name).second, "a name is read once");
        Check(static_cast<int>(preset.options.caseMode) < kCaseModeCount, "case modes in range");
        Check(static_cast<int>(preset.options.sortKey) < kSortKeyCount, "sort keys in range");
        Check(FindPreset(book, preset.name) == &preset, "a preset is found by its name");
    }

    // Written back, the file holds every preset as read, the damaged lines as
    // kept comments, and nothing damaged; written again, it is the same.
    const std::string written = FormatPresets(book);
    const PresetBook reread = ParsePresets(written);
    Check(reread.damaged.empty(), "a written file has no damaged line");
    Check(reread.kept.size() == book.kept.size() + book.damaged.size(),
          "a written file keeps every damaged line");
    Check(reread.presets.size() == book.presets.size(), "a written file keeps every preset");
    for (std::size_t i = 0; i < book.presets.size(); ++i) {
        Check(reread.presets[i].name == book.presets[i].name, "the names stay");
        Check(reread.presets[i].options == book.presets[i].options, "the options stay");
        Check(reread.presets[i].unknown.size() == book.presets[i].unknown.size(),
              "values of unknown names stay");
    }
    Check(FormatPresets(reread) == written, "writing is stable");
    return 0;
}
