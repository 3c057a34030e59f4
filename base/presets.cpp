#include "base/presets.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "os/files.h"

namespace morix {
namespace {

constexpr std::string_view kHeader =
    "# Trelvo Renamer presets. Each begins with Preset=sz:\"its name\" and lists its\n"
    "# options, one a line, as in the settings file.\n";
constexpr std::string_view kPresetKey = "Preset";
// Damaged lines are written back behind this mark and read as such again.
constexpr std::string_view kKeptMark = "#! ";
constexpr std::string_view kKeptHeader = "# Lines that could not be read, kept as they stood:\n";
constexpr std::uint32_t kMaxNumber = 99999999;

// One option of a preset: its name in the file and how it is read from and
// written to the options.
struct PresetField {
    const char* key;
    StoredValue (*get)(const RenameOptions&);
    bool (*set)(RenameOptions&, const StoredValue&);  // false: the value does not fit
};

template <auto member>
constexpr PresetField Text(const char* key) {
    return {key, [](const RenameOptions& o) { return StoredValue(o.*member); },
            [](RenameOptions& o, const StoredValue& v) {
                const auto* text = std::get_if<std::u16string>(&v);
                if (text != nullptr) o.*member = *text;
                return text != nullptr;
            }};
}

template <auto member>
constexpr PresetField Flag(const char* key) {
    return {key, [](const RenameOptions& o) { return StoredValue(std::uint32_t{o.*member}); },
            [](RenameOptions& o, const StoredValue& v) {
                const auto* n = std::get_if<std::uint32_t>(&v);
                if (n == nullptr || *n > 1) return false;
                o.*member = *n != 0;
                return true;
            }};
}

// A whole number, or the index of a choice below count.
template <auto member, std::uint32_t count = kMaxNumber + 1>
constexpr PresetField Number(const char* key) {
    return {
        key,
        [](const RenameOptions& o) { return StoredValue(static_cast<std::uint32_t>(o.*member)); },
        [](RenameOptions& o, const StoredValue& v) {
            const auto* n = std::get_if<std::uint32_t>(&v);
            if (n == nullptr || *n >= count) return false;
            o.*member = static_cast<std::remove_reference_t<decltype(o.*member)>>(*n);
            return true;
        }};
}

// Every option of the window, in the order written. A new option of the
// window is one more line here.
const PresetField kPresetFields[] = {
    Text<&RenameOptions::nameTemplate>("Template"),
    Number<&RenameOptions::startNumber>("Start"),
    Number<&RenameOptions::increment>("Increment"),
    Flag<&RenameOptions::changeExtension>("ChangeExtension"),
    Text<&RenameOptions::newExtension>("Extension"),
    Number<&RenameOptions::caseMode, kCaseModeCount>("Case"),
    Text<&RenameOptions::findText>("Find"),
    Text<&RenameOptions::replaceText>("Replace"),
    Flag<&RenameOptions::caseSensitive>("CaseSensitive"),
    Flag<&RenameOptions::regex>("Regex"),
    Flag<&RenameOptions::normalizeUnicode>("Normalize"),
    Number<&RenameOptions::sortKey, kSortKeyCount>("SortBy"),
    Flag<&RenameOptions::descending>("Descending"),
    Number<&RenameOptions::dateSource, kDateSourceCount>("DateSource"),
};

const PresetField* FieldOf(std::string_view key) {
    for (const PresetField& field : kPresetFields) {
        if (key == field.key) return &field;
    }
    return nullptr;
}

std::string_view TrimLine(std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

// Whether a line that does not read is meant to begin a preset: its lines
// must then not join the preset before it.
bool LooksLikePresetStart(std::string_view line) {
    return TrimLine(line.substr(0, line.find('='))) == kPresetKey;
}

}  // namespace

PresetBook ParsePresets(std::string_view text) {
    PresetBook book;
    constexpr std::size_t kNone = SIZE_MAX;
    std::size_t current = kNone;  // the preset that lines join
    std::size_t number = 0;
    const auto damaged = [&](std::string_view line) {
        book.damaged.push_back({number, std::string(line)});
    };
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = TrimLine(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.starts_with(kKeptMark)) {
            book.kept.emplace_back(line.substr(kKeptMark.size()));
            continue;
        }
        if (line.empty() || line.front() == '#') continue;
        std::optional<SettingsFileEntry> entry = ParseSettingsLine(line);
        if (!entry) {
            if (LooksLikePresetStart(line)) current = kNone;
            damaged(line);
            continue;
        }
        if (entry->name == kPresetKey) {
            const auto* name = std::get_if<std::u16string>(&entry->value);
            current = kNone;
            if (name == nullptr || name->empty() || FindPreset(book, *name) != nullptr) {
                damaged(line);
                continue;
            }
            current = book.presets.size();
            book.presets.push_back(Preset{*name, RenameOptions{}, {}});
            continue;
        }
        if (current == kNone) {
            damaged(line);
            continue;
        }
        Preset& preset = book.presets[current];
        if (const PresetField* field = FieldOf(entry->name)) {
            if (!field->set(preset.options, entry->value)) damaged(line);
        } else {
            preset.unknown.push_back(std::move(*entry));
        }
    }
    return book;
}

std::string FormatPresets(const PresetBook& book) {
    std::string out(kHeader);
    for (const Preset& preset : book.presets) {
        out += '\n';
        AppendSettingsLine(out, {std::string(kPresetKey), preset.name});
        for (const PresetField& field : kPresetFields)
            AppendSettingsLine(out, {field.key, field.get(preset.options)});
        for (const SettingsFileEntry& entry : preset.unknown)
            AppendSettingsLine(out, entry);
    }
    if (book.kept.empty() && book.damaged.empty()) return out;
    out += '\n';
    out += kKeptHeader;
    const auto keep = [&](std::string_view line) {
        out += kKeptMark;
        out += line;
        out += '\n';
    };
    for (const std::string& line : book.kept)
        keep(line);
    for (const PresetBook::DamagedLine& line : book.damaged)
        keep(line.text);
    return out;
}

const Preset* FindPreset(const PresetBook& book, std::u16string_view name) {
    for (const Preset& preset : book.presets) {
        if (preset.name == name) return &preset;
    }
    return nullptr;
}

PresetFile PresetFile::UserFile() {
    std::string path = DefaultSettingsFilePath();
    const std::string suffix = ".conf";
    if (!path.empty()) path.insert(path.size() - suffix.size(), " presets");
    return PresetFile(std::move(path));
}

PresetBook PresetFile::Load() const {
    bool missing = false;
    const std::optional<std::string> text =
        path_.empty() ? std::nullopt : ReadSmallFile(path_, kMaxFileBytes, &missing);
    if (!text) {
        PresetBook book;
        book.readable = missing;
        return book;
    }
    return ParsePresets(*text);
}

template <class Change>
PresetResult PresetFile::Edit(const Change& change) {
    PresetResult result = PresetResult::kNotWritten;
    const bool stored = EditFileUnderLock(
        path_, kMaxFileBytes, [&](const std::string& text) -> std::optional<std::string> {
            PresetBook book = ParsePresets(text);
            result = change(book.presets);
            if (result != PresetResult::kDone) return std::nullopt;
            return FormatPresets(book);
        });
    if (!stored) return PresetResult::kNotWritten;
    return result;
}

PresetResult PresetFile::Save(std::u16string_view name, const RenameOptions& options) {
    if (name.empty()) return PresetResult::kEmptyName;
    return Edit([&](std::vector<Preset>& presets) {
        const auto it = std::find_if(presets.begin(), presets.end(),
                                     [&](const Preset& p) { return p.name == name; });
        if (it == presets.end()) {
            presets.push_back(Preset{std::u16string(name), options, {}});
        } else {
            it->options = options;
        }
        return PresetResult::kDone;
    });
}

PresetResult PresetFile::Rename(std::u16string_view from, std::u16string_view to) {
    if (to.empty()) return PresetResult::kEmptyName;
    return Edit([&](std::vector<Preset>& presets) {
        const auto named = [](std::u16string_view name) {
            return [name](const Preset& p) { return p.name == name; };
        };
        const auto it = std::find_if(presets.begin(), presets.end(), named(from));
        if (it == presets.end()) return PresetResult::kNotFound;
        if (from == to) return PresetResult::kDone;
        if (std::any_of(presets.begin(), presets.end(), named(to))) return PresetResult::kNameTaken;
        it->name = to;
        return PresetResult::kDone;
    });
}

PresetResult PresetFile::Delete(std::u16string_view name) {
    return Edit([&](std::vector<Preset>& presets) {
        const auto it = std::find_if(presets.begin(), presets.end(),
                                     [&](const Preset& p) { return p.name == name; });
        if (it == presets.end()) return PresetResult::kNotFound;
        presets.erase(it);
        return PresetResult::kDone;
    });
}

}  // namespace morix
