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

// Appends a byte string whose memcmp order is the natural order of the name.
void AppendNaturalSortKey(std::string& out, std::u16string_view name) {
    const UCollator* collator = NaturalCollator();
    if (collator == nullptr) {
        out.append(reinterpret_cast<const char*>(name.data()), name.size() * 2);
        return;
    }
    const std::size_t at = out.size();
    std::size_t room = name.size() * 2 + 16;
    for (;;) {
        out.resize(at + room);
        const int32_t needed = ucol_getSortKey(
            collator, AsUChar(name), static_cast<int32_t>(name.size()),
            reinterpret_cast<uint8_t*>(out.data() + at), static_cast<int32_t>(room));
        if (needed <= static_cast<int32_t>(room)) {
            out.resize(at + (needed > 0 ? static_cast<std::size_t>(needed) : 0));
            return;
        }
        room = static_cast<std::size_t>(needed);
    }
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

template <typename T>
int CompareValues(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// The eight key bytes from offset on, zero-padded, as a number whose order is
// the memcmp order of those bytes.
std::uint64_t KeyHead(std::string_view key, std::size_t offset) {
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t at = offset + i;
        head = (head << 8) | (at < key.size() ? static_cast<unsigned char>(key[at]) : 0u);
    }
    return head;
}

// Sorts the positions in [first, last) by their byte keys (times direction),
// ties by position. Keys of one folder often share a long prefix (IMG_0...):
// it is skipped, and the next eight bytes are kept beside each position, so
// most comparisons are one integer comparison instead of a memcmp far away.
template <typename Iterator, typename KeyOf>
void SortByKeys(Iterator first, Iterator last, const KeyOf& keyOf, int direction) {
    const std::size_t count = static_cast<std::size_t>(last - first);
    if (count < 2) return;
    std::string_view firstKey = keyOf(*first);
    std::size_t common = firstKey.size();
    for (Iterator it = first + 1; it != last && common > 0; ++it) {
        const std::string_view key = keyOf(*it);
        std::size_t i = 0;
        const std::size_t limit = std::min(common, key.size());
        while (i < limit && key[i] == firstKey[i])
            ++i;
        common = i;
    }
    struct Entry {
        std::uint64_t head;
        std::uint32_t position;
    };
    std::vector<Entry> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        entries[i] = Entry{KeyHead(keyOf(first[i]), common), first[i]};
    }
    ParallelSort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        int r = CompareValues(a.head, b.head);
        if (r == 0)
            r = Sign(keyOf(a.position).substr(common).compare(keyOf(b.position).substr(common)));
        r *= direction;
        return r != 0 ? r < 0 : a.position < b.position;
    });
    for (std::size_t i = 0; i < count; ++i)
        first[i] = entries[i].position;
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
    const std::u16string_view fa = a.name;
    const std::u16string_view fb = b.name;
    int r = 0;
    switch (key) {
        case SortKey::kName:
            break;
        case SortKey::kExtension:
            r = CompareExact(Extension(fa), Extension(fb));
            break;
        case SortKey::kModifiedTime:
            r = CompareTimes(ModifiedTime(a.Whole()), ModifiedTime(b.Whole()));
            break;
        case SortKey::kSize:
            r = CompareValues(FileSize(a.Whole()), FileSize(b.Whole()));
            break;
    }
    if (r == 0) r = NaturalCompare(fa, fb);
    return descending ? -r : r;
}

void SortRows(const RenameList& list, std::vector<std::uint32_t>& rows, SortKey key,
              bool descending, DateSource source, CaptureDateCache* dates) {
    // Everything a comparison needs is read once up front, in parallel;
    // comparisons then touch only memory. The rows are ordered by the key
    // first, and only runs that tie on it need the costlier name order.
    // Rows that are still equal keep the order they had. Only the fact the
    // key needs is kept, and only until the runs that tie on it are known:
    // the name keys that follow are the larger part.
    const std::size_t count = rows.size();
    std::vector<std::optional<FileTime>> times;
    std::vector<std::uint64_t> sizes;
    if (key == SortKey::kModifiedTime) {
        if (source == DateSource::kTaken) {
            CaptureDateCache sortOnly;
            times = TakenSortTimes(list, rows, ReadAllFileFacts(list, rows),
                                   dates != nullptr ? *dates : sortOnly);
        } else {
            times = ReadEachFile(list, rows, [](const FileFacts& f) { return f.modified; });
        }
    } else if (key == SortKey::kSize) {
        sizes = ReadEachFile(list, rows, [](const FileFacts& f) { return f.size; });
    }
    const auto fileName = [&](std::uint32_t position) { return list.ItemAt(rows[position]).name; };
    const auto primary = [&](std::uint32_t a, std::uint32_t b) {
        switch (key) {
            case SortKey::kName:
                return 0;
            case SortKey::kExtension:
                return CompareExact(Extension(fileName(a)), Extension(fileName(b)));
            case SortKey::kModifiedTime:
                return CompareTimes(times[a], times[b]);
            case SortKey::kSize:
                return CompareValues(sizes[a], sizes[b]);
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
    // Done with: their memory goes before the name keys take theirs.
    std::vector<std::optional<FileTime>>().swap(times);
    std::vector<std::uint64_t>().swap(sizes);
    // Name keys are built in parallel, each slice into one buffer of its own
    // (a slice's keys lie together in memory, which the comparisons like).
    // A position's key runs from its start to the next position's start in
    // the same slice, or to the end of the slice's buffer.
    const std::size_t sliceLength = std::max<std::size_t>(1, ParallelSliceLength(count));
    std::vector<std::string> keyBuffers((count + sliceLength - 1) / sliceLength);
    std::vector<std::uint32_t> keyStarts(count);
    ParallelFor(count, [&](std::size_t begin, std::size_t end) {
        std::string& buffer = keyBuffers[begin / sliceLength];
        std::size_t keysLeft = static_cast<std::size_t>(
            std::count(needsName.begin() + begin, needsName.begin() + end, char{1}));
        for (std::size_t p = begin; p < end; ++p) {
            keyStarts[p] = static_cast<std::uint32_t>(buffer.size());
            if (!needsName[p]) continue;
            AppendNaturalSortKey(buffer, fileName(static_cast<std::uint32_t>(p)));
            --keysLeft;
            // The first key tells how long the others are: room for all at
            // once, as growing the buffer would copy it whole. Room to spare
            // costs no memory until it is written.
            if (keyStarts[p] == 0)
                buffer.reserve(buffer.size() * (2 * keysLeft + 1) + 16 * keysLeft);
        }
    });
    const auto nameKey = [&](std::uint32_t p) {
        const std::string& buffer = keyBuffers[p / sliceLength];
        const std::size_t end = p + 1 < count && (p + 1) / sliceLength == p / sliceLength
                                    ? keyStarts[p + 1]
                                    : buffer.size();
        return std::string_view(buffer).substr(keyStarts[p], end - keyStarts[p]);
    };
    for (const auto& [begin, end] : ties) {
        SortByKeys(order.begin() + begin, order.begin() + end, nameKey, direction);
    }

    for (std::size_t i = 0; i < count; ++i)
        order[i] = rows[order[i]];
    rows.swap(order);
}

}  // namespace morix
