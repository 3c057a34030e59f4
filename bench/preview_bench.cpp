// Preview speed over 100,000 real files on tmpfs: a full pass of new names,
// sorting, and the whole `morix --preview` process.
//
//   build/bench/preview_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/preview.h"
#include "engine/rename_list.h"
#include "engine/sorting.h"
#include "engine/text.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace {

using morix::testing::TempDir;

constexpr int kFiles = 100000;

// One folder of kFiles files with varied names, sizes and times, made once.
struct Fixture {
    TempDir dir{"/dev/shm"};
    morix::RenameList list;
    std::vector<std::uint32_t> rows;

    Fixture() {
        for (int i = 0; i < kFiles; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Holiday photo %d from trip %d.JPG",
                          (i * 7919) % kFiles, i % 37);
            const std::string full = dir.MakeFile(name, static_cast<std::uint64_t>(i % 13));
            TempDir::SetModified(full, 1600000000 + (std::int64_t{i} * 104729) % 5000000);
        }
        list.AddFolder(dir.u16());
        rows = morix::IdentityRows(list.Count());
    }
};

Fixture& Files() {
    static Fixture fixture;
    return fixture;
}

void PreviewPass(benchmark::State& state, const char16_t* nameTemplate) {
    Fixture& f = Files();
    morix::RenameOptions options;
    options.nameTemplate = nameTemplate;
    // As the window does: one pass after another into the same lists.
    morix::NameRegistry registry;
    morix::NameList names;
    for (auto _ : state) {
        morix::ComputeNewNames(f.list, f.rows, options, registry, names);
        benchmark::DoNotOptimize(names.size());
    }
    state.counters["rows"] = static_cast<double>(f.rows.size());
}
BENCHMARK_CAPTURE(PreviewPass, name_and_number, u"<N>_###")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PreviewPass, date_size_number, u"<YYYYMMDD>_<z>_###")
    ->Unit(benchmark::kMillisecond);
// A template of 128 characters made of almost every kind of token.
BENCHMARK_CAPTURE(PreviewPass, tokens_128_characters,
                  u"<N>_<E>_<P>_<z>_<zKB>_<YYYY-MM-DD>_<HH-mm-ss>_<N2,3>_<NS>_<ND>_<TYYYYMMDD>_"
                  u"<N,4>_###_<N7>_<YYMMDD>_<P-N>_<z>_xxxxxxxxxxxxxxxxxxx")
    ->Unit(benchmark::kMillisecond);

// A regular expression over 100,000 names that all match it, beside the same
// pass without find and replace: the difference is what the expression
// costs. The names need no disk, so the figures hold no file queries.
struct DatedNames {
    morix::RenameList list;
    std::vector<std::uint32_t> rows;

    DatedNames() {
        for (int i = 0; i < kFiles; ++i) {
            char name[96];
            std::snprintf(name, sizeof name,
                          "/photos/2024%02d%02d_Holiday photo %d from trip %d.JPG", i % 12 + 1,
                          i % 28 + 1, i, i % 37);
            list.AddItem(morix::DecodeFileName(name));
        }
        rows = morix::IdentityRows(list.Count());
    }
};

void DatePattern(benchmark::State& state, bool regex, bool caseSensitive) {
    static DatedNames names;
    morix::RenameOptions options;
    options.regex = regex;
    options.caseSensitive = caseSensitive;
    if (regex) {
        options.findText = u"^(\\d{4})(\\d{2})(\\d{2})_(.*)$";
        options.replaceText = u"$1-$2-$3 $4";
    }
    morix::NameRegistry registry;
    morix::NameList result;
    for (auto _ : state) {
        morix::ComputeNewNames(names.list, names.rows, options, registry, result);
        benchmark::DoNotOptimize(result.size());
    }
    state.counters["rows"] = static_cast<double>(names.rows.size());
}
// CPU time of all threads: on a busy machine the wall time says little.
BENCHMARK_CAPTURE(DatePattern, no_find, false, false)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(DatePattern, regex, true, false)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(DatePattern, regex_case_sensitive, true, true)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// The part of a pass that asks the disk: the size and time of every file.
void ReadFacts(benchmark::State& state) {
    Fixture& f = Files();
    for (auto _ : state) {
        benchmark::DoNotOptimize(morix::ReadAllFileFacts(f.list, f.rows));
    }
}
BENCHMARK(ReadFacts)->Unit(benchmark::kMillisecond);

void Sort(benchmark::State& state, morix::SortKey key) {
    Fixture& f = Files();
    for (auto _ : state) {
        std::vector<std::uint32_t> rows = f.rows;
        morix::SortRows(f.list, rows, key, false);
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK_CAPTURE(Sort, by_name, morix::SortKey::kName)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sort, by_modified_time, morix::SortKey::kModifiedTime)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sort, by_size, morix::SortKey::kSize)->Unit(benchmark::kMillisecond);

// The whole program: start, read the folder, sort by name, compute, print.
void PreviewProcess(benchmark::State& state) {
    Fixture& f = Files();
    for (auto _ : state) {
        const morix::testing::ProcessResult r = morix::testing::RunProcess(
            {MORIX_BINARY, "--preview", "-t", "<N>_###", "--dir", f.dir.bytes()});
        if (r.exitCode != 0) state.SkipWithError("morix --preview failed");
    }
}
BENCHMARK(PreviewProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
