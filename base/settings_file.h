// The settings file: a typed, human-readable text file with one value a line,
//
//   BRMRN1=sz:"<N> - <D>"
//   BRStart=dword:1
//   UpdateCheckTime=qword:1700000000
//
// sz is text in double quotes (UTF-8; \\ \" \n \r \t and \uXXXX escapes),
// dword a decimal 32-bit and qword a decimal 64-bit number. Lines starting with
// '#' and empty lines are comments. A line that does not read this way is
// damaged and skipped: its value reads as missing, and the next write that
// rewrites the file drops it while keeping every readable value.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings_backend.h"

namespace morix {

struct SettingsFileEntry {
    std::string name;
    StoredValue value;
};

struct ParsedSettingsFile {
    // In file order; a name given twice keeps its first place and its last value.
    std::vector<SettingsFileEntry> entries;
    std::size_t damagedLines = 0;
};

ParsedSettingsFile ParseSettingsFile(std::string_view text);
std::string FormatSettingsFile(const std::vector<SettingsFileEntry>& entries);
// One line of such a file, without its comments and blank lines: nullopt
// when it does not read as a value.
std::optional<SettingsFileEntry> ParseSettingsLine(std::string_view line);
// The line of entry, with its line end.
void AppendSettingsLine(std::string& out, const SettingsFileEntry& entry);

// Given the current text of a file (empty when there is none), the new text,
// or nullopt to leave the file as it is.
using FileEdit = std::function<std::optional<std::string>(const std::string& current)>;
// Changes a whole-file store such as the settings file: takes an exclusive
// lock on "<path>.lock", reads the file again, lets edit change its text and
// replaces the file atomically, so programs that edit it at the same time
// lose nothing. False when the file could not be read (it is then left
// alone), locked or replaced. beforeReplace as for ReplaceFileAtomically.
bool EditFileUnderLock(const std::string& path, std::size_t maxBytes, const FileEdit& edit,
                       const std::function<void()>& beforeReplace = {});
// Names are printable ASCII without blanks and '='.
bool IsValidSettingName(std::string_view name);

// <user config folder>/Vantorel/Trelvo Renamer.conf; empty when the user's
// home is unknown.
std::string DefaultSettingsFilePath();

// Reads need no lock: the file is only ever replaced as a whole. A write takes
// an exclusive lock on "<file>.lock" beside it, reads the file again, changes
// its one value and replaces the file atomically, so programs that write
// different values at the same time lose nothing.
class FileSettingsBackend final : public ISettingsBackend {
  public:
    // A larger file is not read; it is left alone and its values read as
    // unavailable.
    static constexpr std::size_t kMaxFileBytes = 16u << 20;

    // beforeReplace runs while a write holds the lock, after the new file is
    // complete and before it replaces the old one.
    explicit FileSettingsBackend(std::string path, std::function<void()> beforeReplace = {});

    ReadStatus Read(std::string_view name, StoredValue& value) override;
    bool Write(std::string_view name, const StoredValue& value) override;
    bool Remove(std::string_view name) override;

    const std::string& path() const { return path_; }

  private:
    bool Change(std::string_view name, const StoredValue* value);

    std::string path_;
    std::function<void()> beforeReplace_;
};

}  // namespace morix
