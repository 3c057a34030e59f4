// One pass over the rows in display order: the new name of every row, with
// the sequence numbers the row order gives.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/capture_date_cache.h"
#include "engine/file_info.h"
#include "engine/new_name.h"
#include "engine/parallel.h"
#include "engine/rename_list.h"
#include "engine/rename_options.h"

namespace morix {

// Clears registry, then computes and registers the new name of each row; the
// registry indexes the names in the list returned or filled (NameRegistry).
// rows holds item indexes; the result is parallel to rows. Row r receives the
// number startNumber + r * increment, wrapping as 32-bit signed arithmetic.
// When the template reads file sizes or times, each file is queried once,
// the queries spread over the processor's cores. When its dates are the
// dates taken, capture dates come from dates, which keeps them for later
// passes (without it they are read for this pass alone).
NameList ComputeNewNames(const RenameList& list, std::span<const std::uint32_t> rows,
                         const RenameOptions& options, NameRegistry& registry,
                         CaptureDateCache* dates = nullptr);
// The same into names, whose memory is reused: a window that computes a pass
// per keystroke keeps one list rather than taking fresh memory every time.
void ComputeNewNames(const RenameList& list, std::span<const std::uint32_t> rows,
                     const RenameOptions& options, NameRegistry& registry, NameList& names,
                     CaptureDateCache* dates = nullptr);

// For loops over rows that read each item's path: sorted rows visit the
// items in no particular memory order, so this fetches the items and names
// of rows a little ahead of row while it is being worked on.
void PrefetchAhead(const RenameList& list, std::span<const std::uint32_t> rows, std::size_t row);

// The rows 0, 1, ..., count - 1 in array order.
std::vector<std::uint32_t> IdentityRows(std::size_t count);

// pick(facts) of the size and time of the item of every row, read in
// parallel: callers that need one fact keep only that one.
template <typename Pick>
auto ReadEachFile(const RenameList& list, std::span<const std::uint32_t> rows, const Pick& pick) {
    std::vector<decltype(pick(FileFacts{}))> picked(rows.size());
    ParallelFor(rows.size(), [&](std::size_t begin, std::size_t end) {
        FileFactsReader reader;
        for (std::size_t r = begin; r < end; ++r)
            picked[r] = pick(reader.Read(list.ItemAt(rows[r])));
    });
    return picked;
}

// Size and time of the item of every row, read in parallel.
std::vector<FileFacts> ReadAllFileFacts(const RenameList& list,
                                        std::span<const std::uint32_t> rows);

}  // namespace morix
