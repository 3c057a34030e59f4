// The all-or-nothing rename run: every listed file ends under its new name, or
// every file that was moved is put back under its old name.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/capture_date_cache.h"
#include "engine/file_system.h"
#include "engine/new_name.h"
#include "engine/rename_jobs.h"
#include "engine/rename_list.h"
#include "engine/rename_options.h"
#include "engine/run_journal.h"
#include "thread/lockable.h"
#include "thread/thread.h"

namespace morix {

// One job per row in display order, the new names computed exactly as the
// preview computes them (the registry is cleared first, and released once the
// names are known). regexStopped, when given, receives the rows whose regular
// expression a limit stopped: their names lack the replacement, and such jobs
// must not run. dates keeps the capture dates that the names read, as
// ComputeNewNames does.
RenameJobs BuildRenameJobs(const RenameList& list, std::span<const std::uint32_t> rows,
                           const RenameOptions& options, NameRegistry& registry,
                           std::vector<std::size_t>* regexStopped = nullptr,
                           CaptureDateCache* dates = nullptr);
// The same from names already computed for rows.
RenameJobs BuildRenameJobs(const RenameList& list, std::span<const std::uint32_t> rows,
                           const NameList& names);

// The counters of a run: written by the worker, read by whoever shows the
// progress. Position and maximum follow the progress interface of the
// dialogs: minimum 0, no cancelling.
class RenameProgress {
  public:
    void Begin(int total);
    void JobDone();
    void SetTargetExists() { targetExists_.store(true, std::memory_order_release); }
    void SetFinished() { finished_.store(true, std::memory_order_release); }

    int GetPos();
    int GetMin() const { return 0; }
    int GetMax();
    bool IsFinished() const { return finished_.load(std::memory_order_acquire); }
    bool CanCancel() const { return false; }
    bool IsCancelled() const { return false; }
    void Cancel() {}

    int Remaining();
    bool TargetExists() const { return targetExists_.load(std::memory_order_acquire); }

  private:
    JCriticalSection lock_;
    int total_ = 0;
    int remaining_ = 0;
    std::atomic<bool> finished_{false};
    std::atomic<bool> targetExists_{false};
};

enum class RenameOutcome {
    kRenamed,       // every file is under its new name
    kTargetExists,  // refused: a target is taken by a file outside the run; nothing moved
    kRolledBack,    // could not finish; moved files were put back as far as possible
};

struct RenameRunSettings {
    // Close cycles by swapping names where the volume can, instead of
    // parking one file of each cycle under a temporary name.
    bool useExchange = true;
    // Where the run records itself before the first move, so that a run cut
    // short can be rolled back later; none when null.
    RunJournal* journal = nullptr;
    // Called when another run holds a folder of this one, before waiting
    // for it to end.
    std::function<void(const std::string& folder)> onWaitForFolder = nullptr;
    // Per job, the identity of the file at its old path, when the caller has
    // just taken them (an undo checks every file before it starts); empty:
    // the run takes them itself. Every move still checks its file first.
    std::vector<FileIdentity> sourceIdentities = {};
};

// Runs the jobs: checks for foreign files at the targets, records the run in
// the journal, moves every file, and on failure moves the moved ones back.
// A run whose journal cannot be written moves nothing (kRolledBack); the
// journal is finished when every file ends under its old or its new name.
// Records in jobs how each ended (done, tempPath, error), updates the
// counters, and ends with progress.IsFinished(). The cost grows linearly
// with the number of jobs, whatever chains, swaps and rotations they contain.
RenameOutcome RunRenameJobs(RenameJobs& jobs, RenameProgress& progress, FileSystem& fs,
                            const RenameRunSettings& settings = {});

// A run on a worker thread.
class RenameRun {
  public:
    RenameRun(RenameJobs jobs, FileSystem& fs, RenameRunSettings settings = {});
    ~RenameRun();
    RenameRun(const RenameRun&) = delete;
    RenameRun& operator=(const RenameRun&) = delete;

    // Sets the counters and starts the worker; false (nothing touched) when
    // the worker cannot start.
    bool Start();
    // Waits for the worker; see JThread::Join.
    bool Join(std::uint32_t timeoutMs = JThread::kInfinite);

    RenameProgress& Progress() { return progress_; }
    // Valid after a successful Join.
    RenameOutcome Outcome() const { return outcome_; }
    const RenameJobs& Jobs() const { return jobs_; }

  private:
    RenameJobs jobs_;
    FileSystem& fs_;
    RenameRunSettings settings_;
    RenameProgress progress_;
    RenameOutcome outcome_ = RenameOutcome::kRolledBack;
    JFunctionThread worker_;  // last: joined before the members above go
};

}  // namespace morix
