// Rename speed over 100,000 real files on tmpfs, for four workloads: all
// targets free, a shift chain (f000001 -> f000002 -> ...), pairs of swaps
// and one rotation of all files. Each is measured as
//   Raw      a plain loop of renameat2 calls in the best order, cycles closed
//            through one temporary name (the floor to compare with),
//   Engine   the rename run (names exchanged where the volume can),
//   Parking  the rename run closing cycles through parked names only,
//   Journal  the rename run keeping its journal (on /tmp, a disk here),
//   Process  `morix --rename` as a whole process, from start to exit, with
//            its journal in the user's state folder,
//   Undo     `morix --undo` as a whole process, taking back the workload's
//            `morix --rename` made just before (not timed), with the state
//            folder on /tmp: to compare with Process,
// in the same run. Only the renaming is timed, not making the files. Beside
// each figure: the minor page faults per iteration (on these virtual machines
// a fault is costly, so memory churn is time), the processor time of every
// thread (which a busy machine inflates less than the wall time) and, for
// the whole process, its peak resident size.
//
//   build/bench/rename_bench [--benchmark_filter=...]
//
// MORIX_BENCH_FOLDER names another folder to make the files in (a disk
// volume, say): the raw loop and the run are then measured there.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/rename_run.h"
#include "engine/text.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

using morix::testing::TempDir;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 100000;

enum Workload { kFree, kChain, kSwaps, kRotation };

// f000001 ... f100000: the numbering the command line's "f######" produces.
std::string Name(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "f%06d", number);
    return name;
}

// The renames of a workload as (from, to) numbers; to < 0 means "g" + number.
struct Plan {
    std::vector<std::pair<std::string, std::string>> renames;  // names in the folder
};

Plan MakePlan(Workload w) {
    Plan plan;
    plan.renames.reserve(kFiles);
    for (int i = 1; i <= kFiles; ++i) {
        std::string to;
        switch (w) {
            case kFree:
                to = Name(i);
                to[0] = 'g';
                break;
            case kChain:
                to = Name(i + 1);
                break;
            case kSwaps:
                to = Name(kFiles + 1 - i);  // the reversal: pairs (1, n), (2, n - 1), ...
                break;
            case kRotation:
                to = Name(i == kFiles ? 1 : i + 1);
                break;
        }
        plan.renames.emplace_back(Name(i), to);
    }
    return plan;
}

// Where the files are made: MORIX_BENCH_FOLDER, or tmpfs.
const char* BenchBase() {
    const char* base = std::getenv("MORIX_BENCH_FOLDER");
    return base != nullptr && *base != '\0' ? base : "/dev/shm";
}

struct Folder {
    TempDir dir{BenchBase()};
    std::vector<ino_t> inodes;  // of f000001 ... in order

    Folder() {
        inodes.reserve(kFiles);
        for (int i = 1; i <= kFiles; ++i) {
            const std::string path = dir.Path(Name(i));
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) {
                throw std::runtime_error("cannot create " + path);
            }
            struct stat st;
            fstat(fd, &st);
            inodes.push_back(st.st_ino);
            close(fd);
        }
    }

    // Every file arrived under its new name and nothing else is left.
    bool Check(const Plan& plan) const {
        for (int i = 0; i < kFiles; ++i) {
            struct stat st;
            if (lstat(dir.Path(plan.renames[i].second).c_str(), &st) != 0 ||
                st.st_ino != inodes[i]) {
                return false;
            }
        }
        std::vector<std::string> names;
        morix::RealFileSystem().ListNames(dir.bytes(), names);
        return names.size() == static_cast<std::size_t>(kFiles);
    }
};

int Move(const std::string& from, const std::string& to) {
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}

// The best hand-written order for each workload.
bool RawLoop(Workload w, const Folder& f, const Plan& plan) {
    const TempDir& d = f.dir;
    const std::string temp = d.Path(".tmp");
    bool ok = true;
    switch (w) {
        case kFree:
            for (const auto& [from, to] : plan.renames) {
                ok &= Move(d.Path(from), d.Path(to)) == 0;
            }
            break;
        case kChain:
            for (int i = kFiles - 1; i >= 0; --i) {
                ok &= Move(d.Path(plan.renames[i].first), d.Path(plan.renames[i].second)) == 0;
            }
            break;
        case kSwaps:
            for (int i = 1; i <= kFiles / 2; ++i) {
                const std::string a = d.Path(Name(i)), b = d.Path(Name(kFiles + 1 - i));
                ok &= Move(a, temp) == 0 && Move(b, a) == 0 && Move(temp, b) == 0;
            }
            break;
        case kRotation:
            ok &= Move(d.Path(Name(kFiles)), temp) == 0;
            for (int i = kFiles - 1; i >= 1; --i) {
                ok &= Move(d.Path(Name(i)), d.Path(Name(i + 1))) == 0;
            }
            ok &= Move(temp, d.Path(Name(1))) == 0;
            break;
    }
    return ok;
}

bool EngineRun(const Folder& f, const Plan& plan, bool useExchange, bool journaled = false) {
    morix::RenameJobs jobs;
    jobs.Reserve(kFiles);
    for (const auto& [from, to] : plan.renames) jobs.Add(f.dir.Path(from), f.dir.Path(to));
    morix::RealFileSystem fs;
    morix::RenameProgress progress;
    progress.Begin(kFiles);
    TempDir journalFolder;
    morix::RunJournal journal(journalFolder.bytes(), fs);
    return morix::RunRenameJobs(jobs, progress, fs,
                                morix::RenameRunSettings{useExchange,
                                                         journaled ? &journal : nullptr}) ==
           morix::RenameOutcome::kRenamed;
}

// The command line that makes the workload's renames out of the template.
std::vector<std::string> CommandFor(Workload w) {
    std::vector<std::string> args = {MORIX_BINARY, "--rename"};
    switch (w) {
        case kFree:
            args.insert(args.end(), {"-t", "g######", "--dir", "."});
            break;
        case kChain:
            args.insert(args.end(), {"-t", "f######", "--start", "2", "--dir", "."});
            break;
        case kSwaps:
            args.insert(args.end(), {"-t", "f######", "--descending", "--dir", "."});
            break;
        case kRotation:
            // The last file first, then the others: each takes the next number.
            args.insert(args.end(), {"-t", "f######", "--sort", "none", "--", Name(kFiles)});
            for (int i = 1; i < kFiles; ++i) {
                args.push_back(Name(i));
            }
            break;
    }
    return args;
}

// What the last ProcessRun's child used.
rusage childUsage{};

long MinorFaultsSoFar() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Processor time (user and system, every thread) of a usage.
double ProcessorSeconds(const rusage& usage) {
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double ProcessorSecondsSoFar() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return ProcessorSeconds(usage);
}

bool Spawn(const std::vector<std::string>& args, const Folder& f) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, f.dir.bytes().c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    int status = 0;
    childUsage = {};
    wait4(pid, &status, 0, &childUsage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ProcessRun(Workload w, const Folder& f) {
    return Spawn(CommandFor(w), f);
}

// The plan of an undo's end: every file under its first name.
Plan Unchanged(const Plan& plan) {
    Plan back;
    for (const auto& [from, to] : plan.renames)
        back.renames.emplace_back(from, from);
    return back;
}

enum Method { kRaw, kEngine, kParking, kJournal, kProcess, kUndo };

void BM_Rename(benchmark::State& state) {
    const auto w = static_cast<Workload>(state.range(0));
    const auto method = static_cast<Method>(state.range(1));
    const Plan plan = MakePlan(w);
    double faults = 0;
    double processor = 0;  // seconds
    double peakMegabytes = 0;
    for (auto _ : state) {
        Folder folder;
        const TempDir undoState;
        const char* userState = getenv("XDG_STATE_HOME");
        const std::string savedState = userState ? userState : "";
        if (method == kUndo) {
            setenv("XDG_STATE_HOME", undoState.bytes().c_str(), 1);
            if (!ProcessRun(w, folder) || !folder.Check(plan)) {
                state.SkipWithError("the run to undo failed");
                break;
            }
        }
        const long faultsBefore = MinorFaultsSoFar();
        const double processorBefore = ProcessorSecondsSoFar();
        const auto start = Clock::now();
        bool ok = false;
        switch (method) {
            case kRaw:
                ok = RawLoop(w, folder, plan);
                break;
            case kEngine:
                ok = EngineRun(folder, plan, true);
                break;
            case kParking:
                ok = EngineRun(folder, plan, false);
                break;
            case kJournal:
                ok = EngineRun(folder, plan, true, true);
                break;
            case kProcess:
                ok = ProcessRun(w, folder);
                break;
            case kUndo:
                ok = Spawn({MORIX_BINARY, "--undo"}, folder);
                userState ? setenv("XDG_STATE_HOME", savedState.c_str(), 1)
                          : unsetenv("XDG_STATE_HOME");
                break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (method == kProcess || method == kUndo) {
            faults += static_cast<double>(childUsage.ru_minflt);
            processor += ProcessorSeconds(childUsage);
            peakMegabytes = std::max(peakMegabytes, childUsage.ru_maxrss / 1024.0);
        } else {
            faults += static_cast<double>(MinorFaultsSoFar() - faultsBefore);
            processor += ProcessorSecondsSoFar() - processorBefore;
        }
        if (!ok || !folder.Check(method == kUndo ? Unchanged(plan) : plan)) {
            state.SkipWithError("the files were not renamed as planned");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
    state.counters["faults"] = faults / static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = processor * 1000 / static_cast<double>(state.iterations());
    if (method == kProcess || method == kUndo) state.counters["peak_MB"] = peakMegabytes;
}

void Workloads(benchmark::internal::Benchmark* b) {
    b->ArgNames({"workload", "method"});
    // A process started with posix_spawn shares this one's memory until its
    // exec, and the kernel counts this one's peak resident size as part of
    // the child's: the whole processes go first, before the runs inside this
    // process make it grow.
    const std::initializer_list<int> outside = {kProcess, kUndo};
    const std::initializer_list<int> inside = {kRaw, kEngine, kParking, kJournal};
    for (const auto methods : {outside, inside}) {
        for (int w : {kFree, kChain, kSwaps, kRotation}) {
            for (int m : methods) b->Args({w, m});
        }
    }
}

BENCHMARK(BM_Rename)->Apply(Workloads)->UseManualTime()->Iterations(3)->Unit(
    benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
