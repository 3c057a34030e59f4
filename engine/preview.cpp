#include "engine/preview.h"

#include <algorithm>
#include <atomic>
#include <numeric>

#include "engine/name_template.h"
#include "engine/parallel.h"

namespace morix {

std::vector<FileFacts> ReadAllFileFacts(const RenameList& list,
                                        std::span<const std::uint32_t> rows) {
    return ReadEachFile(list, rows, [](const FileFacts& facts) { return facts; });
}

NameList ComputeNewNames(const RenameList& list, std::span<const std::uint32_t> rows,
                         const RenameOptions& options, NameRegistry& registry,
                         CaptureDateCache* dates) {
    NameList names;
    ComputeNewNames(list, rows, options, registry, names, dates);
    return names;
}

void ComputeNewNames(const RenameList& list, std::span<const std::uint32_t> rows,
                     const RenameOptions& options, NameRegistry& registry, NameList& names,
                     CaptureDateCache* dates) {
    const NewNameComposer composer(options);
    // Read every file the template asks about once, up front: the queries
    // dominate such a pass and run in parallel.
    std::vector<FileFacts> facts;
    if (composer.Template().ReadsFileFacts()) facts = ReadAllFileFacts(list, rows);
    // A file without a capture date falls back to its modified time.
    std::vector<std::optional<LocalTime>> taken;
    if (options.dateSource == DateSource::kTaken && composer.Template().ReadsFileTime()) {
        CaptureDateCache passOnly;
        taken = (dates != nullptr ? *dates : passOnly).DatesOf(list, rows, facts);
    }
    // One reading of the clock for the whole pass: every row of it gets the
    // same current date and time.
    std::optional<LocalTime> now;
    if (composer.Template().ReadsClock()) now = CurrentLocalTime();

    registry.Clear();
    names.clear();
    // Row r receives startNumber + r * increment; unsigned arithmetic gives
    // the wrap-around of 32-bit signed numbers without undefined behaviour.
    const auto numberOf = [&](std::size_t r) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(options.startNumber) +
                                         static_cast<std::uint32_t>(r) *
                                             static_cast<std::uint32_t>(options.increment));
    };

    // Block by block: the names of a block are composed and hashed on all
    // cores, each slice into lists of its own, then made unique and
    // registered in row order. Blocks keep those lists small and in the cache.
    struct Slice {
        NewNameComposer composer;
        NameList names;
        std::vector<std::size_t> hashes;
        std::vector<std::size_t> regexStopped;  // rows
    };
    // A regular expression that backtracks without end on many names would
    // cost each of them its full limit: after this many, the pass stops
    // trying it.
    constexpr std::size_t kRegexStopsPerPass = 16;
    std::atomic<std::size_t> regexStops{0};
    constexpr std::size_t kBlock = 8192;
    // No later, shorter block is cut into more slices than the first.
    const std::size_t firstCount = std::min(kBlock, rows.size());
    const std::size_t firstStep = ParallelSliceLength(firstCount);
    std::vector<Slice> slices(firstStep == 0 ? 0 : (firstCount + firstStep - 1) / firstStep,
                              Slice{composer, {}, {}, {}});
    std::u16string suffixed;
    for (std::size_t block = 0; block < rows.size(); block += kBlock) {
        const std::size_t count = std::min(kBlock, rows.size() - block);
        const std::size_t step = ParallelSliceLength(count);
        ParallelFor(count, [&](std::size_t begin, std::size_t end) {
            Slice& slice = slices[begin / step];
            slice.names.clear();
            slice.hashes.clear();
            for (std::size_t r = block + begin; r < block + end; ++r) {
                PrefetchAhead(list, rows, r);
                if (regexStops.load(std::memory_order_relaxed) >= kRegexStopsPerPass)
                    slice.composer.GiveUpRegex();
                const LocalTime* fileTime =
                    taken.empty() || !taken[r] ? nullptr : &taken[r].value();
                const std::u16string_view name =
                    slice.composer.Compose(list.ItemAt(rows[r]), numberOf(r),
                                           facts.empty() ? nullptr : &facts[r], &now, fileTime);
                if (slice.composer.RegexStopped()) {
                    slice.regexStopped.push_back(r);
                    regexStops.fetch_add(1, std::memory_order_relaxed);
                }
                slice.names.push_back(name);
                slice.hashes.push_back(NameRegistry::HashOf(name));
            }
        });
        if (block == 0) {
            // The first block tells how long the names are: room for all at
            // once. Later names may be longer (their numbers have more
            // digits), and growing a buffer copies it whole: room to spare,
            // which costs no memory until it is written.
            std::size_t chars = 0;
            for (const Slice& slice : slices)
                chars += slice.names.chars();
            const std::size_t perRow = chars / count + 1;
            const std::size_t expected = (perRow + perRow / 2 + 8) * rows.size();
            names.reserve(rows.size(), expected);
            registry.Reserve(rows.size());
        }
        // The registry indexes the names where they stand in names.
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t r = block + i;
            const Slice& slice = slices[i / step];
            const std::u16string_view name = slice.names[i % step];
            names.push_back(name);
            if (name.empty() || !registry.RegisterNew(names, r, slice.hashes[i % step], rows[r])) {
                suffixed.assign(name);
                InsertNumberSuffix(suffixed, numberOf(r));
                names.pop_back();
                names.push_back(suffixed);
                registry.Register(names, r, rows[r]);
            }
        }
        // Slices hold ascending rows, one after another.
        for (Slice& slice : slices) {
            for (const std::size_t r : slice.regexStopped)
                names.MarkRegexStopped(r);
            slice.regexStopped.clear();
        }
    }
}

void PrefetchAhead(const RenameList& list, std::span<const std::uint32_t> rows, std::size_t row) {
    constexpr std::size_t kItemDistance = 16;
    constexpr std::size_t kPathDistance = 8;
    if (row + kItemDistance < rows.size()) {
        list.PrefetchItem(rows[row + kItemDistance]);
    }
    if (row + kPathDistance < rows.size()) {
        list.PrefetchName(rows[row + kPathDistance]);
    }
}

std::vector<std::uint32_t> IdentityRows(std::size_t count) {
    std::vector<std::uint32_t> rows(count);
    std::iota(rows.begin(), rows.end(), 0u);
    return rows;
}

}  // namespace morix
