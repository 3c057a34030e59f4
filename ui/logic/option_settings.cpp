#include "ui/logic/option_settings.h"

namespace morix::ui {
namespace {

constexpr std::u16string_view kDefaultExtension = u"jpg";
constexpr std::u16string_view kDefaultFirstTemplate = u"<N>";

// The first entry reads as "<N>" when nothing is stored; every entry is
// written against an empty default.
std::optional<std::u16string_view> HistoryReadDefault(std::size_t entry) {
    if (entry == 0) return kDefaultFirstTemplate;
    return std::u16string_view{};
}

}  // namespace

RenameOptions LoadOptions(SettingsStore& store) {
    RenameOptions o;
    o.startNumber = static_cast<std::int32_t>(store.GetDword(kSettingStart, 1));
    o.increment = static_cast<std::int32_t>(store.GetDword(kSettingStep, 1));
    o.changeExtension = store.GetDword(kSettingChangeExtension, 0) != 0;
    o.newExtension = store.GetString(kSettingExtension, kDefaultExtension);
    o.caseMode = static_cast<CaseMode>(store.GetDword(kSettingCase, 0));
    o.findText = store.GetString(kSettingReplaceFrom, std::u16string_view{});
    o.replaceText = store.GetString(kSettingReplaceWith, std::u16string_view{});
    o.caseSensitive = store.GetDword(kSettingCaseSensitive, 0) != 0;
    o.regex = store.GetDword(kSettingRegex, 0) != 0;
    o.normalizeUnicode = store.GetDword(kSettingNormalize, 1) != 0;
    o.sortKey = static_cast<SortKey>(store.GetDword(kSettingSortBy, 0));
    o.descending = store.GetDword(kSettingSortDirection, 0) != 0;
    o.dateSource = static_cast<DateSource>(store.GetDword(kSettingDateSource, 0));
    o.templatePick = 0;
    // Stored values from elsewhere may be out of range: fall back to the
    // defaults rather than index past the lists.
    if (static_cast<int>(o.caseMode) < 0 || static_cast<int>(o.caseMode) >= kCaseModeCount) {
        o.caseMode = CaseMode::kNoChange;
    }
    if (static_cast<int>(o.sortKey) < 0 || static_cast<int>(o.sortKey) >= kSortKeyCount) {
        o.sortKey = SortKey::kName;
    }
    if (static_cast<int>(o.dateSource) < 0 || static_cast<int>(o.dateSource) >= kDateSourceCount) {
        o.dateSource = DateSource::kModified;
    }
    return o;
}

std::vector<std::u16string> LoadHistory(SettingsStore& store) {
    std::vector<std::u16string> history;
    for (std::size_t i = 0; i < kHistorySize; ++i) {
        std::u16string entry =
            store.GetString(kSettingRecentTemplate1 + static_cast<int>(i), HistoryReadDefault(i));
        if (!entry.empty()) history.push_back(std::move(entry));
    }
    return history;
}

void SaveSettings(SettingsStore& store, const RenameOptions& o,
                  const std::vector<std::u16string>& comboEntries) {
    std::size_t k = 0;
    const auto write = [&](std::u16string_view text) {
        store.SetString(kSettingRecentTemplate1 + static_cast<int>(k), text, std::u16string_view{});
        ++k;
    };
    if (!o.nameTemplate.empty()) write(o.nameTemplate);
    for (const std::u16string& entry : comboEntries) {
        if (k >= kHistorySize) break;
        if (!entry.empty() && entry != o.nameTemplate) write(entry);
    }
    store.SetDword(kSettingCase, static_cast<std::uint32_t>(o.caseMode), 0);
    store.SetDword(kSettingStart, static_cast<std::uint32_t>(o.startNumber), 1);
    store.SetDword(kSettingStep, static_cast<std::uint32_t>(o.increment), 1);
    store.SetDword(kSettingChangeExtension, o.changeExtension ? 1 : 0, 0);
    store.SetString(kSettingExtension, o.newExtension, kDefaultExtension);
    store.SetString(kSettingReplaceFrom, o.findText, std::u16string_view{});
    store.SetString(kSettingReplaceWith, o.replaceText, std::u16string_view{});
    store.SetDword(kSettingCaseSensitive, o.caseSensitive ? 1 : 0, 0);
    store.SetDword(kSettingRegex, o.regex ? 1 : 0, 0);
    store.SetDword(kSettingNormalize, o.normalizeUnicode ? 1 : 0, 1);
    store.SetDword(kSettingSortBy, static_cast<std::uint32_t>(o.sortKey), 0);
    store.SetDword(kSettingSortDirection, o.descending ? 1 : 0, 0);
    store.SetDword(kSettingDateSource, static_cast<std::uint32_t>(o.dateSource), 0);
}

}  // namespace morix::ui
