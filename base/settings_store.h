// The numbered settings of the program: the main window's last choices, the
// recent name templates, the notice switch and the time of the last update
// check. Callers name a setting by its number and pass its default with every
// read and write; a value equal to its default is not kept.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/settings_backend.h"
#include "thread/lockable.h"

namespace morix {

// Setting numbers.
enum SettingNumber : int {
    kSettingRecentTemplate1 = 0,  // most recent name template; 1 to 9 follow it
    kSettingRecentTemplate10 = 9,
    kSettingStart = 10,
    kSettingStep = 11,
    kSettingChangeExtension = 12,
    kSettingExtension = 13,
    kSettingCase = 14,
    kSettingReplaceFrom = 15,
    kSettingReplaceWith = 16,
    kSettingCaseSensitive = 17,
    kSettingNormalize = 18,
    kSettingSortBy = 19,
    kSettingSortDirection = 20,
    kSettingAdSupport = 21,
    kSettingUpdateCheckTime = 22,
    kSettingRegex = 23,
    kSettingDateSource = 24,
    kSettingCount = 25,
};

// The stored name of a setting; nullptr for a number outside 0..kSettingCount - 1.
const char* SettingValueName(int number);

// All operations may be called from any thread. Values are cached per number
// for the life of the store: once read or written, a setting is not read again,
// so changes made by another program meanwhile are not seen. Numbers outside
// 0..kSettingCount - 1 read as their default and are never stored.
class SettingsStore {
  public:
    explicit SettingsStore(std::unique_ptr<ISettingsBackend> backend);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The stored value, or def when there is none, it has another kind, or
    // nothing can be read. An unreadable store is asked again next time.
    std::uint32_t GetDword(int number, std::uint32_t def);
    std::uint64_t GetQword(int number, std::uint64_t def);
    // A null default reads as empty text. Stored text ends at its first NUL.
    std::u16string GetString(int number, std::optional<std::u16string_view> def);

    // A value equal to def removes the setting; a value equal to the current
    // one writes nothing. A failed write is not reported, and the cache keeps
    // the new value for the rest of the run.
    void SetDword(int number, std::uint32_t value, std::uint32_t def);
    void SetQword(int number, std::uint64_t value, std::uint64_t def);
    // With a null default, empty text removes the setting and any other text is
    // written without comparing it with the stored one. Text is taken up to its
    // first NUL.
    void SetString(int number, std::u16string_view text, std::optional<std::u16string_view> def);

    void DeleteSetting(int number);

  private:
    template <class T>
    T GetNumber(int number, T def);
    template <class T>
    void SetNumber(int number, T value, T def);
    void Store(int number, StoredValue value);

    JCriticalSection lock_;
    std::unique_ptr<ISettingsBackend> backend_;
    std::array<std::optional<StoredValue>, kSettingCount> cache_;
};

// The program's settings, kept in the user's settings file (see
// DefaultSettingsFilePath); created on first use.
SettingsStore& Settings();

}  // namespace morix
