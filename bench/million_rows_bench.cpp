// A list of 1,000,000 rows: the time to fill it, to compute every new name
// and to sort it, and the memory the process needs at its peak.
//
//   build/bench/million_rows_bench [rows]     (1,000,000 when not given)
// The rows name files that do not exist: names and numbers need no file, and
// the sorts by time and size meet a missing file on every row (its time and
// size count as zero), which is their slowest path.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/preview.h"
#include "engine/rename_list.h"
#include "engine/sorting.h"
#include "engine/text.h"

namespace {

int kRows = 1000000;

using Clock = std::chrono::steady_clock;

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

template <typename Work>
void Step(const char* what, Work&& work) {
    const auto start = Clock::now();
    work();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("%-34s %8.0f ms   peak %6.0f MB\n", what, ms, PeakMegabytes());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) kRows = std::max(1, std::atoi(argv[1]));
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("%d rows; peak = the process's largest resident size so far\n", kRows);
    morix::RenameList list;
    Step("fill the list", [&] {
        char name[96];
        for (int i = 0; i < kRows; ++i) {
            std::snprintf(name, sizeof name,
                          "/nonexistent/morix-bench/Holiday photo %d trip %d.JPG",
                          static_cast<int>((std::int64_t{i} * 7919) % kRows), i % 37);
            list.AddItem(morix::DecodeFileName(name));
        }
    });
    std::vector<std::uint32_t> rows = morix::IdentityRows(list.Count());
    morix::NameRegistry registry;
    morix::RenameOptions options;
    options.nameTemplate = u"<N>_###";
    Step("preview <N>_###", [&] {
        const auto names = morix::ComputeNewNames(list, rows, options, registry);
        if (names.size() != static_cast<std::size_t>(kRows)) std::puts("wrong count");
    });
    Step("sort by name", [&] { morix::SortRows(list, rows, morix::SortKey::kName, false); });
    Step("sort by modified time",
         [&] { morix::SortRows(list, rows, morix::SortKey::kModifiedTime, false); });
    Step("preview <YYYYMMDD>_<z>_### (sorted)", [&] {
        options.nameTemplate = u"<YYYYMMDD>_<z>_###";
        const auto names = morix::ComputeNewNames(list, rows, options, registry);
        if (names.size() != static_cast<std::size_t>(kRows)) std::puts("wrong count");
    });
    return 0;
}
