// The settings file reader, on any text a settings file may hold.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "base/settings_file.h"
#include "fuzz/fuzz_support.h"

using namespace morix;
using morix::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ParsedSettingsFile parsed = ParseSettingsFile(text);

    std::set<std::string> names;
    for (const SettingsFileEntry& entry : parsed.entries) {
        Check(IsValidSettingName(entry.name), "a value read has a valid name");
        Check(names.insert(entry.name).second, "a name is read once");
    }

    // What the program writes back keeps every value it read, and nothing
    // else: written again, it reads the same and is written the same.
    const std::string written = FormatSettingsFile(parsed.entries);
    const ParsedSettingsFile reread = ParseSettingsFile(written);
    Check(reread.damagedLines == 0, "a written file has no damaged line");
    Check(reread.entries.size() == parsed.entries.size(), "a written file keeps every value");
    for (std::size_t i = 0; i < parsed.entries.size(); ++i) {
        Check(reread.entries[i].name == parsed.entries[i].name, "a written file keeps the names");
        Check(reread.entries[i].value == parsed.entries[i].value,
              "a written file keeps the values and their kinds");
    }
    Check(FormatSettingsFile(reread.entries) == written, "writing is stable");
    return 0;
}
