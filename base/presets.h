// Presets: named sets of every option of the main window, kept in a file of
// their own beside the settings file, in the settings file's line syntax.
// Each preset begins with its name and lists its options:
//
//   Preset=sz:"Camera dates"
//   Template=sz:"<YYYY-MM-DD> ###"
//   Start=dword:1
//   Regex=dword:0
//   ...
//
// A line that does not read this way, or that stands where no preset has
// begun, is damaged: it is reported, takes no part in any preset, and is
// kept in the file as a comment at the next change, so no preset is ever
// lost to a damaged one. A value of a name this version does not know stays
// with its preset.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings_backend.h"
#include "base/settings_file.h"
#include "engine/rename_options.h"

namespace morix {

struct Preset {
    std::u16string name;
    RenameOptions options;                   // templatePick is not kept and reads as 0
    std::vector<SettingsFileEntry> unknown;  // values of names this version does not know
};

struct PresetBook {
    struct DamagedLine {
        std::size_t number;  // 1-based
        std::string text;
    };
    std::vector<Preset> presets;       // in file order; names are unique
    std::vector<DamagedLine> damaged;  // found in this reading
    std::vector<std::string> kept;     // damaged lines of earlier readings, kept as comments
    bool readable = true;              // false: the file exists but could not be read
};

// Reads presets from the text of a presets file. A second preset of a name
// already seen is damaged too (its lines are not applied).
PresetBook ParsePresets(std::string_view text);
// The text of a presets file: the book's presets, then its kept and damaged
// lines as comments.
std::string FormatPresets(const PresetBook& book);

// The preset of that name (exact comparison), or null.
const Preset* FindPreset(const PresetBook& book, std::u16string_view name);

enum class PresetResult {
    kDone,
    kNotFound,   // no preset of that name
    kNameTaken,  // another preset has the new name
    kEmptyName,
    kNotWritten,  // the file could not be read, locked or replaced; it is as it was
};

// The presets file of the user, <config folder>/Vantorel/Trelvo Renamer
// presets.conf. Reading needs no lock (the file is only ever replaced as a
// whole); each change takes the lock, reads the file again, changes one
// preset and replaces the file atomically, so two windows that change
// presets at the same time lose nothing.
class PresetFile {
  public:
    static constexpr std::size_t kMaxFileBytes = 4u << 20;

    explicit PresetFile(std::string path) : path_(std::move(path)) {}
    // The user's file; its path is empty when the user's home is unknown.
    static PresetFile UserFile();

    const std::string& path() const { return path_; }

    // A missing file reads as no presets.
    PresetBook Load() const;
    // Adds the preset, or replaces the options of the one of that name.
    PresetResult Save(std::u16string_view name, const RenameOptions& options);
    PresetResult Rename(std::u16string_view from, std::u16string_view to);
    PresetResult Delete(std::u16string_view name);

  private:
    // Runs change on the presets under the lock; writes when it says kDone.
    template <class Change>
    PresetResult Edit(const Change& change);

    std::string path_;
};

}  // namespace morix
