// The order of the rows: four sort keys, ascending or descending, each falling
// back to the natural order of the file names.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/capture_date_cache.h"
#include "engine/rename_list.h"
#include "engine/rename_options.h"

namespace morix {

// Natural order of file names: runs of digits compare by numeric value,
// letters without regard to case. Negative, zero or positive.
int NaturalCompare(std::u16string_view a, std::u16string_view b);

// Negative when a goes before b, positive when after, 0 when equal. Reads the
// file system for the time and size keys.
int CompareItems(SortKey key, bool descending, const RenameItem& a, const RenameItem& b);

// Sorts rows (indexes into list) into the order CompareItems defines. Each
// file is read once at the start of the sort rather than on every comparison.
// With the date taken as date source, the time key orders the rows by
// TakenSortTimes instead of the modified times, capture dates coming from
// dates (read for this sort alone without it).
void SortRows(const RenameList& list, std::vector<std::uint32_t>& rows, SortKey key,
              bool descending, DateSource source = DateSource::kModified,
              CaptureDateCache* dates = nullptr);

}  // namespace morix
