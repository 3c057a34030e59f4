// The main window's options and template history as kept between runs.
#pragma once

#include <string>
#include <vector>

#include "base/settings_store.h"
#include "engine/rename_options.h"

namespace morix::ui {

inline constexpr std::size_t kHistorySize = 10;

// The stored options, each with its default when nothing is stored. The
// template itself is not stored apart from the history; the picker starts at 0.
RenameOptions LoadOptions(SettingsStore& store);

// The non-empty history entries, most recent first ("<N>" when nothing is
// stored).
std::vector<std::u16string> LoadHistory(SettingsStore& store);

// Writes the history (the current template first, then the combo's entries
// that are neither empty nor equal to it, up to ten; later entries keep what
// was stored) and then the options.
void SaveSettings(SettingsStore& store, const RenameOptions& options,
                  const std::vector<std::u16string>& comboEntries);

}  // namespace morix::ui
