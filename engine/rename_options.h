// The user's settings for one computation of new names.
#pragma once

#include <cstdint>
#include <string>

namespace morix {

enum class CaseMode : int {
    kNoChange = 0,
    kAllUpper = 1,
    kAllLower = 2,
    kNameUpper = 3,
    kNameLower = 4,
    kExtensionUpper = 5,
    kExtensionLower = 6,
    kFirstUpper = 7,
};
inline constexpr int kCaseModeCount = 8;

enum class SortKey : int {
    kName = 0,
    kExtension = 1,
    kModifiedTime = 2,
    kSize = 3,
};
inline constexpr int kSortKeyCount = 4;

// Which date the file date fields of the template and the sort by time read:
// the last modification, or when the photo or video was taken (its capture
// date, else its last modification).
enum class DateSource : int {
    kModified = 0,
    kTaken = 1,
};
inline constexpr int kDateSourceCount = 2;

struct RenameOptions {
    std::u16string nameTemplate;  // empty: keep the current base name
    std::u16string newExtension;  // without dot; used only with changeExtension
    std::u16string findText;      // empty: no find and replace
    std::u16string replaceText;
    int templatePick = 0;  // entry of the template picker, 0 = prompt line
    CaseMode caseMode = CaseMode::kNoChange;
    SortKey sortKey = SortKey::kName;
    std::int32_t startNumber = 1;
    std::int32_t increment = 1;
    bool changeExtension = false;
    bool caseSensitive = false;
    bool regex = false;  // findText is a regular expression, replaceText may name its groups
    bool normalizeUnicode = true;
    bool descending = false;
    DateSource dateSource = DateSource::kModified;

    friend bool operator==(const RenameOptions&, const RenameOptions&) = default;
};

}  // namespace morix
