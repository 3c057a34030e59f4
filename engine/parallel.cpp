#include "engine/parallel.h"

#include <atomic>
#include <thread>
#include <vector>

namespace morix {
namespace {

constexpr std::size_t kMinSlice = 2048;  // below this a thread costs more than it saves

}  // namespace

std::size_t ParallelSliceLength(std::size_t count) {
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t slices = std::min(cores, std::max<std::size_t>(1, count / kMinSlice));
    return slices <= 1 ? count : (count + slices - 1) / slices;
}

void ParallelFor(std::size_t count, const std::function<void(std::size_t, std::size_t)>& work) {
    // No work, no slice: callers index their per-slice buffers by slice.
    if (count == 0) return;
    const std::size_t step = ParallelSliceLength(count);
    if (step >= count) {
        work(0, count);
        return;
    }
    std::vector<std::thread> threads;
    for (std::size_t begin = step; begin < count; begin += step) {
        const std::size_t end = std::min(count, begin + step);
        threads.emplace_back([&work, begin, end] { work(begin, end); });
    }
    work(0, step);
    for (std::thread& t : threads)
        t.join();
}

void ParallelForEach(std::size_t count, const std::function<void(std::size_t)>& work) {
    const std::size_t threadCount =
        std::min<std::size_t>(count, std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<std::size_t> next{0};
    const auto run = [&] {
        for (std::size_t i = next++; i < count; i = next++)
            work(i);
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < threadCount; ++t)
        threads.emplace_back(run);
    run();
    for (std::thread& t : threads)
        t.join();
}

}  // namespace morix
