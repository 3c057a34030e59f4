// Spreading independent work over the processor's cores: reading many files'
// attributes and sorting long lists of rows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>

namespace morix {

// The length of each slice ParallelFor cuts [0, count) into (the last slice
// may be shorter); count itself when the work stays on one thread.
std::size_t ParallelSliceLength(std::size_t count);

// Runs work(begin, end) for every slice of [0, count), one thread per slice,
// and returns when all are done. Never calls work with an empty slice.
void ParallelFor(std::size_t count, const std::function<void(std::size_t, std::size_t)>& work);

// Runs work(i) for every i in [0, count), on as many threads as there are
// cores, each taking the next i as soon as it is free. For items that each
// take long and unevenly, such as reading the headers of files.
void ParallelForEach(std::size_t count, const std::function<void(std::size_t)>& work);

// Sorts [first, last) by less: each slice on its own thread, then merged.
template <typename Iterator, typename Less>
void ParallelSort(Iterator first, Iterator last, const Less& less) {
    const std::size_t count = static_cast<std::size_t>(last - first);
    ParallelFor(count, [&](std::size_t begin, std::size_t end) {
        std::sort(first + begin, first + end, less);
    });
    for (std::size_t width = ParallelSliceLength(count); width < count; width *= 2) {
        for (std::size_t begin = 0; begin + width < count; begin += 2 * width) {
            std::inplace_merge(first + begin, first + begin + width,
                               first + std::min(count, begin + 2 * width), less);
        }
    }
}

}  // namespace morix
