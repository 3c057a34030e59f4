#include "engine/sorting.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "engine/file_info.h"
#include "engine/parallel.h"
#include "engine/paths.h"
#include "engine/preview.h"
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
        if (U_FAILURE(status)) return static_cast<UCollator*>(nullptr);
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
    if (!a && !b) return 0;
    if (!a) return 1;
    if (!b) return -1;
    return CompareValues(*a, *b);
}

}  // namespace

int NaturalCompare(std::u16string_view a, std::u16string_view b) {
    const UCollator* collator = NaturalCollator();
    if (collator == nullptr) return CompareNoCase(a, b);
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
    if (r == 0) r = NaturalCompare(fa, fb);
    return descending ? -r : r;
}

void SortRows(const RenameList& list, std::vector<std::uint32_t>& rows, SortKey key,
              bool descending) {
    // Everything a comparison needs is read once up front, in parallel;
    // comparisons then touch only memory. The rows are ordered by the key
    // first, and only runs that tie on it need the costlier name order.
    // Rows that are still equal keep the order they had.
    const std::size_t count = rows.size();
    std::vector<FileFacts> facts;
    if (key == SortKey::kModifiedTime || key == SortKey::kSize)
        facts = ReadAllFileFacts(list, rows);
    const auto fileName = [&](std::uint32_t position) {
        return FileName(list.ItemAt(rows[position]).path);
    };
    const auto primary = [&](std::uint32_t a, std::uint32_t b) {
        switch (key) {
            case SortKey::kName:
                return 0;
            case SortKey::kExtension:
                return CompareExact(Extension(fileName(a)), Extension(fileName(b)));
            case SortKey::kModifiedTime:
                return CompareTimes(facts[a].modified, facts[b].modified);
            case SortKey::kSize:
                return CompareValues(facts[a].size, facts[b].size);
        }
        return 0;
    };
    const int direction = descending ? -1 : 1;

    std::vector<std::uint32_t> order = IdentityRows(count);  // positions in rows
    if (key != SortKey::kName) {
        ParallelSort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            const int r = primary(a, b) * direction;
            return r != 0 ? r < 0 : a < b;
        });
    }

    // Runs of rows that tie on the key, as [begin, end) ranges of order.
    std::vector<std::pair<std::size_t, std::size_t>> ties;
    std::vector<char> needsName(count, 0);
    for (std::size_t begin = 0; begin < count;) {
        std::size_t end = begin + 1;
        while (end < count && primary(order[begin], order[end]) == 0)
            ++end;
        if (end - begin > 1) {
            ties.emplace_back(begin, end);
            for (std::size_t i = begin; i < end; ++i)
                needsName[order[i]] = 1;
        }
        begin = end;
    }
    std::vector<std::string> nameKeys(count);
    ParallelFor(count, [&](std::size_t begin, std::size_t end) {
        for (std::size_t p = begin; p < end; ++p) {
            if (needsName[p]) nameKeys[p] = NaturalSortKey(fileName(static_cast<std::uint32_t>(p)));
        }
    });
    const auto byName = [&](std::uint32_t a, std::uint32_t b) {
        const int r = Sign(nameKeys[a].compare(nameKeys[b])) * direction;
        return r != 0 ? r < 0 : a < b;
    };
    for (const auto& [begin, end] : ties) {
        ParallelSort(order.begin() + begin, order.begin() + end, byName);
    }

    std::vector<std::uint32_t> sorted(count);
    for (std::size_t i = 0; i < count; ++i)
        sorted[i] = rows[order[i]];
    rows.swap(sorted);
}

}  // namespace morix
