#include "engine/sorting.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "engine/file_info.h"
#include "engine/paths.h"
#include "engine/text.h"

namespace morix {
namespace {

// The root collation with numeric ordering of digit runs, comparing letters
// without regard to case (accents still count). Opened once, then only read,
// which ICU allows from any thread.
const UCollator* NaturalCollator() {
    static const UCollator* const collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UCollator* c = ucol_open("", &status);
        if (U_FAILURE(status))
            return static_cast<UCollator*>(nullptr);
        ucol_setAttribute(c, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
        ucol_setAttribute(c, UCOL_STRENGTH, UCOL_SECONDARY, &status);
        return c;
    }();
    return collator;
}

const UChar* AsUChar(std::u16string_view s) {
    return reinterpret_cast<const UChar*>(s.data());
}

// A byte string whose memcmp order is the natural order of the name.
std::string NaturalSortKey(std::u16string_view name) {
    const UCollator* collator = NaturalCollator();
    std::string key(name.size() * 2 + 16, '\0');
    if (collator == nullptr) {
        key.assign(reinterpret_cast<const char*>(name.data()), name.size() * 2);
        return key;
    }
    for (;;) {
        const int32_t needed = ucol_getSortKey(
            collator, AsUChar(name), static_cast<int32_t>(name.size()),
            reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
        if (needed <= static_cast<int32_t>(key.size())) {
            key.resize(needed > 0 ? static_cast<std::size_t>(needed) : 0);
            return key;
        }
        key.assign(static_cast<std::size_t>(needed), '\0');
    }
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

template <typename T>
int CompareValues(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Unreadable times sort after all readable ones.
int CompareTimes(const std::optional<FileTime>& a, const std::optional<FileTime>& b) {
    if (!a && !b)
        return 0;
    if (!a)
        return 1;
    if (!b)
        return -1;
    return CompareValues(*a, *b);
}

}  // namespace

int NaturalCompare(std::u16string_view a, std::u16string_view b) {
    const UCollator* collator = NaturalCollator();
    if (collator == nullptr)
        return CompareNoCase(a, b);
    const UCollationResult r = ucol_strcoll(collator, AsUChar(a), static_cast<int32_t>(a.size()),
                                            AsUChar(b), static_cast<int32_t>(b.size()));
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

int CompareItems(SortKey key, bool descending, const RenameItem& a, const RenameItem& b) {
    const std::u16string_view fa = FileName(a.path);
    const std::u16string_view fb = FileName(b.path);
    int r = 0;
    switch (key) {
        case SortKey::kName:
            break;
        case SortKey::kExtension:
            r = CompareExact(Extension(fa), Extension(fb));
            break;
        case SortKey::kModifiedTime:
            r = CompareTimes(ModifiedTime(a.path), ModifiedTime(b.path));
            break;
        case SortKey::kSize:
            r = CompareValues(FileSize(a.path), FileSize(b.path));
            break;
    }
    if (r == 0)
        r = NaturalCompare(fa, fb);
    return descending ? -r : r;
}

void SortRows(const RenameList& list, std::vector<std::uint32_t>& rows, SortKey key,
              bool descending) {
    // Everything a comparison needs is read once up front; comparisons then
    // touch only memory. Ties keep the order the rows had.
    struct Entry {
        std::uint32_t item;
        std::uint32_t position;
        std::optional<FileTime> time;
        std::uint64_t size = 0;
        std::string nameKey;
    };
    std::vector<Entry> entries(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Entry& e = entries[i];
        e.item = rows[i];
        e.position = static_cast<std::uint32_t>(i);
        const std::u16string& path = list.ItemAt(e.item).path;
        if (key == SortKey::kModifiedTime)
            e.time = ModifiedTime(path);
        if (key == SortKey::kSize)
            e.size = FileSize(path);
        e.nameKey = NaturalSortKey(FileName(path));
    }
    const auto primary = [&](const Entry& a, const Entry& b) {
        switch (key) {
            case SortKey::kName:
                return 0;
            case SortKey::kExtension:
                return CompareExact(Extension(FileName(list.ItemAt(a.item).path)),
                                    Extension(FileName(list.ItemAt(b.item).path)));
            case SortKey::kModifiedTime:
                return CompareTimes(a.time, b.time);
            case SortKey::kSize:
                return CompareValues(a.size, b.size);
        }
        return 0;
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        int r = primary(a, b);
        if (r == 0)
            r = Sign(a.nameKey.compare(b.nameKey));
        if (descending)
            r = -r;
        if (r != 0)
            return r < 0;
        return a.position < b.position;
    });
    for (std::size_t i = 0; i < entries.size(); ++i)
        rows[i] = entries[i].item;
}

}  // namespace morix
