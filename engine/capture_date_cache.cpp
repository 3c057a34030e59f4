#include "engine/capture_date_cache.h"

#include <limits>

#include "engine/capture_date.h"
#include "engine/parallel.h"

namespace morix {
namespace {

// seconds and the nanoseconds of a second as one count of nanoseconds, held
// at the ends of the range: modified times at its very ends (see
// ReadFileFacts) are pushed past them by a time zone's offset.
FileTime Nanoseconds(std::int64_t seconds, std::int64_t fraction) {
    FileTime nanoseconds = 0;
    if (__builtin_mul_overflow(seconds, std::int64_t{1'000'000'000}, &nanoseconds) ||
        __builtin_add_overflow(nanoseconds, fraction, &nanoseconds)) {
        return seconds < 0 ? std::numeric_limits<FileTime>::min()
                           : std::numeric_limits<FileTime>::max();
    }
    return nanoseconds;
}

}  // namespace

std::vector<std::optional<LocalTime>> CaptureDateCache::DatesOf(const RenameList& list,
                                                                std::span<const std::uint32_t> rows,
                                                                std::span<const FileFacts> facts) {
    std::vector<std::optional<LocalTime>> dates(rows.size());
    std::vector<std::size_t> stale;  // rows whose file is read now
    std::u16string path;             // reused: one lookup per row
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const RenameItem item = list.ItemAt(rows[r]);
        path.assign(item.folder).append(item.name);
        const auto it = entries_.find(path);
        if (it != entries_.end() && it->second.size == facts[r].size &&
            it->second.modified == facts[r].modified) {
            dates[r] = it->second.taken;
        } else {
            stale.push_back(r);
        }
    }
    ParallelForEach(stale.size(), [&](std::size_t i) {
        const std::size_t r = stale[i];
        dates[r] = ReadCaptureDate(list.ItemAt(rows[r]).Whole());
    });
    for (const std::size_t r : stale) {
        entries_.insert_or_assign(list.ItemAt(rows[r]).Whole(),
                                  Entry{facts[r].size, facts[r].modified, dates[r]});
    }
    return dates;
}

std::optional<bool> CaptureDateCache::HasCaptureDate(std::u16string_view path) const {
    const auto it = entries_.find(path);
    if (it == entries_.end()) return std::nullopt;
    return it->second.taken.has_value();
}

std::vector<std::optional<FileTime>> TakenSortTimes(const RenameList& list,
                                                    std::span<const std::uint32_t> rows,
                                                    std::span<const FileFacts> facts,
                                                    CaptureDateCache& cache) {
    constexpr std::int64_t kPerSecond = 1'000'000'000;
    const std::vector<std::optional<LocalTime>> taken = cache.DatesOf(list, rows, facts);
    std::vector<std::optional<FileTime>> times(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (taken[r]) {
            times[r] = Nanoseconds(SecondsAsUtc(*taken[r]), 0);
        } else if (facts[r].modified) {
            // The part of a second a file system keeps still orders files
            // modified within one second.
            const FileTime modified = *facts[r].modified;
            const std::int64_t fraction = ((modified % kPerSecond) + kPerSecond) % kPerSecond;
            if (const std::optional<LocalTime> local = ToLocalTime(modified))
                times[r] = Nanoseconds(SecondsAsUtc(*local), fraction);
        }
    }
    return times;
}

}  // namespace morix
