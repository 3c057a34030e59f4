#include "base/settings_store.h"

#include <utility>

#include "base/settings_file.h"

namespace morix {
namespace {

constexpr const char* kValueNames[kSettingCount] = {
    "BRMRN1",
    "BRMRN2",
    "BRMRN3",
    "BRMRN4",
    "BRMRN5",
    "BRMRN6",
    "BRMRN7",
    "BRMRN8",
    "BRMRN9",
    "BRMRN10",
    "BRStart",
    "BRStep",
    "BRChangeExtension",
    "BRExtension",
    "BRCase",
    "BRReplaceFrom",
    "BRReplaceWith",
    "BRCaseSensitive",
    "BRNormalize",
    "BRSortBy",
    "BRSortDirection",
    "AdSupport",
    "UpdateCheckTime",
    "BRRegex",
    "BRDateSource",
};

bool InRange(int number) {
    return number >= 0 && number < kSettingCount;
}

// Text as the store keeps it: up to the first NUL.
std::u16string_view UpToNul(std::u16string_view text) {
    return text.substr(0, text.find(u'\0'));
}

}  // namespace

const char* SettingValueName(int number) {
    return InRange(number) ? kValueNames[number] : nullptr;
}

SettingsStore::SettingsStore(std::unique_ptr<ISettingsBackend> backend)
    : backend_(std::move(backend)) {}

template <class T>
T SettingsStore::GetNumber(int number, T def) {
    if (!InRange(number)) return def;
    JAutoLock hold(lock_);
    if (const std::optional<StoredValue>& cached = cache_[number]) {
        const T* value = std::get_if<T>(&*cached);
        return value ? *value : def;
    }
    StoredValue stored;
    const auto status = backend_->Read(kValueNames[number], stored);
    if (status == ISettingsBackend::ReadStatus::kUnavailable) return def;
    const T* value =
        status == ISettingsBackend::ReadStatus::kFound ? std::get_if<T>(&stored) : nullptr;
    const T result = value ? *value : def;
    cache_[number] = StoredValue(result);
    return result;
}

std::uint32_t SettingsStore::GetDword(int number, std::uint32_t def) {
    return GetNumber<std::uint32_t>(number, def);
}

std::uint64_t SettingsStore::GetQword(int number, std::uint64_t def) {
    return GetNumber<std::uint64_t>(number, def);
}

std::u16string SettingsStore::GetString(int number, std::optional<std::u16string_view> def) {
    const std::u16string fallback(def ? UpToNul(*def) : std::u16string_view());
    if (!InRange(number)) return fallback;
    JAutoLock hold(lock_);
    if (const std::optional<StoredValue>& cached = cache_[number]) {
        const std::u16string* text = std::get_if<std::u16string>(&*cached);
        return text ? *text : fallback;
    }
    StoredValue stored;
    const auto status = backend_->Read(kValueNames[number], stored);
    if (status == ISettingsBackend::ReadStatus::kUnavailable) return fallback;
    const std::u16string* text = status == ISettingsBackend::ReadStatus::kFound
                                     ? std::get_if<std::u16string>(&stored)
                                     : nullptr;
    std::u16string result = text ? std::u16string(UpToNul(*text)) : fallback;
    cache_[number] = StoredValue(result);
    return result;
}

void SettingsStore::Store(int number, StoredValue value) {
    JAutoLock hold(lock_);
    backend_->Write(kValueNames[number], value);
    cache_[number] = std::move(value);
}

// The comparison with the current value and the write are two steps under the
// lock, not one: two threads writing one setting at once may both write, and
// the last one wins.
template <class T>
void SettingsStore::SetNumber(int number, T value, T def) {
    if (!InRange(number)) return;
    if (value == def) {
        DeleteSetting(number);
        return;
    }
    if (GetNumber<T>(number, def) == value) return;
    Store(number, StoredValue(value));
}

void SettingsStore::SetDword(int number, std::uint32_t value, std::uint32_t def) {
    SetNumber<std::uint32_t>(number, value, def);
}

void SettingsStore::SetQword(int number, std::uint64_t value, std::uint64_t def) {
    SetNumber<std::uint64_t>(number, value, def);
}

void SettingsStore::SetString(int number, std::u16string_view text,
                              std::optional<std::u16string_view> def) {
    if (!InRange(number)) return;
    text = UpToNul(text);
    if (def) {
        if (text == UpToNul(*def)) {
            DeleteSetting(number);
            return;
        }
        if (GetString(number, def) == text) return;
    } else if (text.empty()) {
        DeleteSetting(number);
        return;
    }
    Store(number, StoredValue(std::u16string(text)));
}

void SettingsStore::DeleteSetting(int number) {
    if (!InRange(number)) return;
    JAutoLock hold(lock_);
    backend_->Remove(kValueNames[number]);
    cache_[number].reset();
}

SettingsStore& Settings() {
    static SettingsStore store(std::make_unique<FileSettingsBackend>(DefaultSettingsFilePath()));
    return store;
}

}  // namespace morix
