#include "engine/rename_run.h"

#include <cerrno>
#include <deque>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/safe_move.h"
#include "engine/text.h"

namespace morix {

std::vector<RenameJob> BuildRenameJobs(const RenameList& list, std::span<const std::uint32_t> rows,
                                       const RenameOptions& options, NameRegistry& registry) {
    const auto names = ComputeNewNames(list, rows, options, registry);
    std::vector<RenameJob> jobs;
    jobs.reserve(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::u16string& path = list.ItemAt(rows[r]).path;
        jobs.push_back(RenameJob{path, {}, CombinePath(Folder(path), names[r]), false});
    }
    return jobs;
}

void RenameProgress::Begin(int total) {
    JAutoLock hold(lock_);
    total_ = total;
    remaining_ = total;
    targetExists_.store(false, std::memory_order_release);
    finished_.store(false, std::memory_order_release);
}

void RenameProgress::JobDone() {
    JAutoLock hold(lock_);
    --remaining_;
}

int RenameProgress::GetPos() {
    JAutoLock hold(lock_);
    return total_ - remaining_;
}

int RenameProgress::GetMax() {
    JAutoLock hold(lock_);
    return total_;
}

int RenameProgress::Remaining() {
    JAutoLock hold(lock_);
    return remaining_;
}

namespace {

bool AsciiEqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(static_cast<unsigned char>(a[i])) !=
            AsciiLower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool CannotExchange(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTTY;
}

// A file on its way: where it is now and where it has to go. Both views point
// into path strings that outlive the move (the job paths or a PathStore).
struct Item {
    enum class State : std::uint8_t { kPending, kArrived, kStuck };
    std::uint32_t job = 0;
    std::string_view cur;
    std::string_view dst;
    State state = State::kPending;
    std::uint32_t stamp = 0;
};

// Moves a set of files to their destinations in an order that follows the
// dependencies: a file whose destination is free moves first, and each move
// frees the name that the next file is waiting for. Files that wait for each
// other in a cycle are released by parking one of them under a temporary name
// (or by swapping names where the volume can). Every file is looked at a
// constant number of times, so the cost is linear.
class Relocator {
  public:
    Relocator(SafeMover& mover, bool& useExchange, const std::vector<std::string>& oldPaths,
              std::deque<std::string>& pathStore)
        : mover_(mover), useExchange_(useExchange), oldPaths_(oldPaths), pathStore_(pathStore) {}

    // Moves every item; onArrived runs after each arrival. With
    // stopOnFailure the first failure ends the work and the result is false;
    // otherwise a file that cannot move, and every file waiting behind it,
    // stays where it is. True when every item arrived.
    bool Run(std::vector<Item>& items, bool stopOnFailure,
             const std::function<void(Item&)>& onArrived) {
        items_ = &items;
        stopOnFailure_ = stopOnFailure;
        onArrived_ = &onArrived;
        failed_ = false;
        ready_.clear();
        occupant_.clear();
        waiter_.clear();
        occupant_.reserve(items.size());
        waiter_.reserve(items.size());
        for (std::uint32_t i = 0; i < items.size(); ++i) {
            occupant_[items[i].cur] = i;
            waiter_[items[i].dst] = i;
        }
        for (std::uint32_t i = 0; i < items.size(); ++i) {
            if (!occupant_.contains(items[i].dst)) {
                ready_.push_back(i);
            }
        }
        if (!Drain()) {
            return false;
        }
        std::uint32_t stamp = 0;
        std::vector<std::uint32_t> walked;
        for (std::uint32_t start = 0; start < items.size(); ++start) {
            if (items[start].state != Item::State::kPending) {
                continue;
            }
            // Follow who occupies each destination: either the walk comes
            // back to start (a cycle), or it ends at a file that cannot move.
            ++stamp;
            walked.clear();
            std::uint32_t x = start;
            bool cycle = false;
            for (;;) {
                items[x].stamp = stamp;
                walked.push_back(x);
                const auto occupied = occupant_.find(items[x].dst);
                if (occupied == occupant_.end()) {
                    ready_.push_back(x);  // freed meanwhile
                    break;
                }
                const std::uint32_t next = occupied->second;
                if (next == start) {
                    cycle = true;
                    break;
                }
                if (items[next].state != Item::State::kPending || items[next].stamp == stamp) {
                    for (std::uint32_t w : walked) {
                        items[w].state = Item::State::kStuck;
                    }
                    break;
                }
                x = next;
            }
            if (cycle && !CloseCycle(start)) {
                return false;
            }
            if (!Drain()) {
                return false;
            }
            if (items[start].state == Item::State::kPending) {
                items[start].state = Item::State::kStuck;
            }
        }
        return !failed_;
    }

  private:
    bool Drain() {
        auto& items = *items_;
        while (!ready_.empty()) {
            const std::uint32_t i = ready_.back();
            ready_.pop_back();
            Item& item = items[i];
            if (item.state != Item::State::kPending || occupant_.contains(item.dst)) {
                continue;
            }
            const std::string_view from = item.cur;
            SafeMover::Result result = mover_.Move(std::string(from), std::string(item.dst));
            if (result.error != 0) {
                if (!Fail(i, std::move(result.strandedAt))) {
                    return false;
                }
                continue;
            }
            occupant_.erase(from);
            item.cur = item.dst;
            Arrived(item);
            Freed(from);
        }
        return true;
    }

    // Releases the cycle through start: by name swaps, each of which brings
    // one file home, or by parking start's file.
    bool CloseCycle(std::uint32_t start) {
        auto& items = *items_;
        std::uint32_t x = start;
        while (useExchange_) {
            Item& item = items[x];
            const std::uint32_t other = occupant_.at(item.dst);
            const int error = mover_.Exchange(std::string(item.cur), std::string(item.dst));
            if (error != 0) {
                if (CannotExchange(error)) {
                    useExchange_ = false;
                    break;
                }
                return Fail(x, {});
            }
            const std::string_view vacated = item.cur;
            occupant_.erase(item.dst);
            occupant_[vacated] = other;
            item.cur = item.dst;
            items[other].cur = vacated;
            Arrived(item);
            if (items[other].cur == items[other].dst) {
                occupant_.erase(vacated);
                Arrived(items[other]);
                return true;
            }
            x = other;
        }
        Item& item = items[x];
        const std::string temp =
            mover_.TempPath(FolderOf(std::string(item.cur)), ExtensionOf(oldPaths_[item.job]));
        if (temp.empty()) {
            return Fail(x, {});
        }
        // The parked name needs no check of how it is stored: the file is
        // found again through the same spelling.
        SafeMover::Result result = mover_.Move(std::string(item.cur), temp, false);
        if (result.error != 0) {
            return Fail(x, std::move(result.strandedAt));
        }
        Relocate(x, temp);
        return true;
    }

    // Records a failed move; false when the work has to stop.
    bool Fail(std::uint32_t i, std::string strandedAt) {
        if (!strandedAt.empty()) {
            Relocate(i, strandedAt);
        }
        (*items_)[i].state = Item::State::kStuck;
        failed_ = true;
        return !stopOnFailure_;
    }

    void Relocate(std::uint32_t i, const std::string& path) {
        Item& item = (*items_)[i];
        const std::string_view left = item.cur;
        occupant_.erase(left);
        item.cur = pathStore_.emplace_back(path);
        occupant_[item.cur] = i;
        Freed(left);
    }

    void Arrived(Item& item) {
        item.state = Item::State::kArrived;
        (*onArrived_)(item);
    }

    void Freed(std::string_view path) {
        const auto waiting = waiter_.find(path);
        if (waiting != waiter_.end() && (*items_)[waiting->second].state == Item::State::kPending) {
            ready_.push_back(waiting->second);
        }
    }

    SafeMover& mover_;
    bool& useExchange_;
    const std::vector<std::string>& oldPaths_;
    std::deque<std::string>& pathStore_;
    std::vector<Item>* items_ = nullptr;
    const std::function<void(Item&)>* onArrived_ = nullptr;
    bool stopOnFailure_ = true;
    bool failed_ = false;
    std::unordered_map<std::string_view, std::uint32_t> occupant_;  // path -> file there
    std::unordered_map<std::string_view, std::uint32_t> waiter_;    // path -> file bound for it
    std::vector<std::uint32_t> ready_;
};

// Phase 1: true when a target is taken by something that is not a file of the
// run. A target that differs from the file's own name in letter case only is
// the file itself when the folder does not list the target's exact name (a
// case-insensitive volume found the file under its old spelling).
bool ForeignFileAtTarget(FileSystem& fs, const std::vector<std::string>& oldPaths,
                         const std::vector<std::string>& newPaths,
                         const std::unordered_set<std::string_view>& runFiles) {
    std::unordered_map<std::string, std::unordered_set<std::string>> listings;
    for (std::size_t j = 0; j < oldPaths.size(); ++j) {
        const std::string& target = newPaths[j];
        if (target == oldPaths[j] || runFiles.contains(target)) {
            continue;
        }
        // Only a clear answer counts as taken; on any other error the move
        // itself, which never replaces, decides.
        if (fs.Lstat(target) != 0) {
            continue;
        }
        if (!AsciiEqualsNoCase(target, oldPaths[j])) {
            return true;
        }
        const std::string folder = FolderOf(target);
        auto listing = listings.find(folder);
        if (listing == listings.end()) {
            std::vector<std::string> names;
            if (fs.ListNames(folder, names) != 0) {
                return true;
            }
            listing =
                listings
                    .emplace(folder, std::unordered_set<std::string>(names.begin(), names.end()))
                    .first;
        }
        if (listing->second.contains(NameOf(target))) {
            return true;
        }
    }
    return false;
}

template <typename Paths>
bool HasDuplicates(const Paths& paths) {
    std::unordered_set<std::string_view> seen;
    seen.reserve(paths.size());
    for (const std::string& path : paths) {
        if (!seen.insert(path).second) {
            return true;
        }
    }
    return false;
}

}  // namespace

RenameOutcome RunRenameJobs(std::vector<RenameJob>& jobs, RenameProgress& progress, FileSystem& fs,
                            const RenameRunSettings& settings) {
    const std::size_t count = jobs.size();
    std::vector<std::string> oldPaths, newPaths;
    oldPaths.reserve(count);
    newPaths.reserve(count);
    for (const RenameJob& job : jobs) {
        oldPaths.push_back(EncodeFileName(job.oldPath));
        newPaths.push_back(EncodeFileName(job.newPath));
    }
    // Two jobs for one file, or two files bound for one name, can never all
    // succeed; touch nothing.
    if (HasDuplicates(oldPaths) || HasDuplicates(newPaths)) {
        progress.SetFinished();
        return RenameOutcome::kRolledBack;
    }
    std::unordered_set<std::string_view> runFiles(oldPaths.begin(), oldPaths.end());
    if (ForeignFileAtTarget(fs, oldPaths, newPaths, runFiles)) {
        progress.SetTargetExists();
        progress.SetFinished();
        return RenameOutcome::kTargetExists;
    }

    // Phase 2: forward.
    SafeMover mover(fs);
    bool useExchange = settings.useExchange;
    std::deque<std::string> pathStore;
    Relocator relocator(mover, useExchange, oldPaths, pathStore);
    std::vector<std::string_view> where(count);  // the current place of every file
    std::vector<Item> items;
    items.reserve(count);
    for (std::uint32_t j = 0; j < count; ++j) {
        where[j] = oldPaths[j];
        if (oldPaths[j] == newPaths[j]) {
            jobs[j].done = true;
            progress.JobDone();
        } else {
            items.push_back(Item{j, oldPaths[j], newPaths[j]});
        }
    }
    const std::function<void(Item&)> forwardArrived = [&](Item& item) {
        jobs[item.job].done = true;
        progress.JobDone();
    };
    const bool complete = relocator.Run(items, true, forwardArrived);

    if (!complete) {
        // Phase 3: every file that left its old name goes back.
        for (const Item& item : items) {
            where[item.job] = item.cur;
        }
        std::vector<Item> back;
        for (std::uint32_t j = 0; j < count; ++j) {
            if (where[j] != std::string_view(oldPaths[j])) {
                back.push_back(Item{j, where[j], oldPaths[j]});
            }
            if (oldPaths[j] == newPaths[j]) {
                jobs[j].done = false;
            }
        }
        relocator.Run(back, false, [](Item&) {});
        for (const Item& item : back) {
            where[item.job] = item.cur;
        }
    }

    for (std::uint32_t j = 0; j < count; ++j) {
        const std::string_view at = complete ? std::string_view(newPaths[j]) : where[j];
        jobs[j].done = at == std::string_view(newPaths[j]) && (complete || at != oldPaths[j]);
        jobs[j].tempPath.clear();
        if (at != std::string_view(oldPaths[j]) && at != std::string_view(newPaths[j])) {
            jobs[j].tempPath = DecodeFileName(at);
        }
    }
    progress.SetFinished();
    return complete ? RenameOutcome::kRenamed : RenameOutcome::kRolledBack;
}

RenameRun::RenameRun(std::vector<RenameJob> jobs, FileSystem& fs, RenameRunSettings settings)
    : jobs_(std::move(jobs)),
      fs_(fs),
      settings_(settings),
      worker_([this] { outcome_ = RunRenameJobs(jobs_, progress_, fs_, settings_); }) {}

RenameRun::~RenameRun() {
    worker_.Join();
}

bool RenameRun::Start() {
    progress_.Begin(static_cast<int>(jobs_.size()));
    return worker_.Start();
}

bool RenameRun::Join(std::uint32_t timeoutMs) {
    return worker_.Join(timeoutMs);
}

}  // namespace morix
