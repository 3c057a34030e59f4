#include "engine/rename_run.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <future>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/flat_hash_index.h"
#include "engine/parallel.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/relocator.h"
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

using PathIndex = std::unordered_map<std::string_view, std::uint32_t>;
constexpr std::uint32_t kNone = kNoItem;

// Jobs per folder from which on one listing of the folder is cheaper than a
// query per target.
constexpr std::size_t kListFolderFrom = 64;

// Phase 1: whether a target is taken by something that is not a file of the
// run, or shared by two files (which can never both arrive). A target that differs from the file's
// own name in letter case only is the file itself when the folder does not list the target's exact
// name (a case-insensitive volume found the file under its old spelling).
enum class Targets { kFree, kTaken, kShared };

Targets CheckTargets(FileSystem& fs, const std::vector<std::string>& oldPaths,
                     const std::vector<std::string>& newPaths,
                     const std::vector<std::uint32_t>& targetJob) {
    std::unordered_map<std::string_view, std::vector<std::uint32_t>> byFolder;
    std::vector<std::uint32_t>* last = nullptr;
    std::string_view lastFolder;
    for (std::uint32_t j = 0; j < oldPaths.size(); ++j) {
        if (newPaths[j] != oldPaths[j] && targetJob[j] == kNone) {
            const std::string_view path = newPaths[j];
            const std::string_view folder = path.substr(0, path.rfind('/') + 1);
            if (last == nullptr || folder != lastFolder) {
                last = &byFolder[folder];
                lastFolder = folder;
            }
            last->push_back(j);
        }
    }
    std::vector<std::string> names;
    for (const auto& entry : byFolder) {
        // Named references, not a structured binding: clang before 16 lets
        // no lambda capture a binding.
        const std::string_view folderWithSlash = entry.first;
        const std::vector<std::uint32_t>& jobs = entry.second;
        const std::string folder(
            folderWithSlash.substr(0, folderWithSlash.size() - (folderWithSlash.empty() ? 0 : 1)));
        const auto nameOf = [&](std::uint32_t j) {
            return std::string_view(newPaths[j]).substr(folderWithSlash.size());
        };
        bool listed = false;
        bool readable = false;
        const auto listFolder = [&] {
            if (!listed) {
                listed = true;
                readable = fs.ListNames(folder, names) == 0;
            }
            return readable;
        };
        // On a volume that keeps names exactly, many targets are checked
        // against one listing; elsewhere only the file system can say which
        // spellings a name covers.
        const bool exact = fs.KeepsExactNames(folder);
        if (jobs.size() >= kListFolderFrom && exact) {
            if (!listFolder()) {
                return Targets::kTaken;
            }
            // Ids below names.size() are the folder's entries, the others
            // the targets in job order.
            const auto listed = static_cast<std::uint32_t>(names.size());
            const auto keyOf = [&](std::uint32_t id) -> std::string_view {
                return id < listed ? std::string_view(names[id]) : nameOf(jobs[id - listed]);
            };
            FlatHashIndex seen;
            seen.Reserve(names.size() + jobs.size());
            for (std::uint32_t id = 0; id < listed + jobs.size(); ++id) {
                const std::string_view key = keyOf(id);
                const std::uint32_t first = seen.Insert(
                    HashBytes(key), id, [&](std::uint32_t other) { return keyOf(other) == key; });
                if (first != id && id >= listed) {
                    return first < listed ? Targets::kTaken : Targets::kShared;
                }
            }
            continue;
        }
        std::unordered_set<std::string_view> targets;
        for (std::uint32_t j : jobs) {
            if (!targets.insert(nameOf(j)).second) {
                return Targets::kShared;
            }
            const bool caseOnly = AsciiEqualsNoCase(newPaths[j], oldPaths[j]);
            // A change of case on a volume that may fold it is judged from
            // the listing alone: looking the new spelling up would leave a
            // FUSE volume's kernel cache believing it taken.
            if (caseOnly && !exact) {
                if (!listFolder() ||
                    OtherFileUnderCaseVariant(names, NameOf(oldPaths[j]), nameOf(j))) {
                    return Targets::kTaken;
                }
                continue;
            }
            // Only a clear answer counts as taken; on any other error the
            // move itself, which never replaces, decides.
            if (fs.Lstat(newPaths[j]) != 0) {
                continue;
            }
            if (!caseOnly) {
                return Targets::kTaken;
            }
            if (!listFolder() || OtherFileUnderCaseVariant(names, NameOf(oldPaths[j]), nameOf(j))) {
                return Targets::kTaken;
            }
        }
    }
    return Targets::kFree;
}

}  // namespace

namespace {

// Takes the lock of every folder the run renames in, in one order for all
// runs so that two runs never wait for each other.
int LockFolders(FileSystem& fs, const std::vector<std::string>& oldPaths,
                const std::vector<std::string>& newPaths, const RenameRunSettings& settings,
                std::vector<UniqueFd>& locks, std::string& failedFolder) {
    std::vector<std::string_view> folders;
    for (std::size_t j = 0; j < oldPaths.size(); ++j) {
        if (oldPaths[j] != newPaths[j]) {
            const std::string_view folder = FolderView(oldPaths[j]);
            if (folders.empty() || folders.back() != folder) folders.push_back(folder);
        }
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::string_view view : folders) {
        const std::string folder(view.empty() ? "/" : view);
        UniqueFd held;
        int error = fs.LockFolder(folder, false, held);
        if (error == EWOULDBLOCK) {
            if (settings.onWaitForFolder) settings.onWaitForFolder(folder);
            error = fs.LockFolder(folder, true, held);
        }
        if (error != 0) {
            failedFolder = folder;
            return error;
        }
        locks.push_back(std::move(held));
    }
    return 0;
}

// Whether a file's move depends on the names of others: its old name is
// another's target, its target another's old name, or only the letter case
// changes (which a volume may take for the same name).
bool Entangled(std::uint32_t j, const std::vector<std::string>& oldPaths,
               const std::vector<std::string>& newPaths,
               const std::vector<std::uint32_t>& targetJob, const std::vector<bool>& madeWay) {
    return madeWay[j] || (targetJob[j] != kNone && targetJob[j] != j) ||
           AsciiEqualsNoCase(oldPaths[j], newPaths[j]);
}

// Moves the items folder depth by folder depth: forward the deepest first,
// so files inside a folder the run renames move while their folder still has
// its old name; back the shallowest first, so that folder is home before
// they go back. Files of one folder (all that can wait for each other) are
// always moved together.
bool RunByDepth(Relocator& relocator, std::vector<RelocationItem>& items,
                const std::vector<std::uint32_t>& standing, const std::vector<std::string>& oldPaths,
                bool forward, const std::function<void(std::uint32_t)>& onArrived) {
    std::vector<std::size_t> depth(items.size());
    std::vector<std::size_t> depths;
    for (std::size_t j = 0; j < items.size(); ++j) {
        if (items[j].state != RelocationItem::State::kPending) continue;
        depth[j] = static_cast<std::size_t>(std::count(oldPaths[j].begin(), oldPaths[j].end(), '/'));
        depths.push_back(depth[j]);
    }
    std::sort(depths.begin(), depths.end());
    depths.erase(std::unique(depths.begin(), depths.end()), depths.end());
    if (depths.size() <= 1) return relocator.Run(items, standing, forward, onArrived);
    if (forward) std::reverse(depths.begin(), depths.end());
    bool all = true;
    for (const std::size_t layer : depths) {
        // The other layers wait, marked as arrived for this round.
        std::vector<std::uint32_t> waiting;
        for (std::uint32_t j = 0; j < items.size(); ++j) {
            if (items[j].state == RelocationItem::State::kPending && depth[j] != layer) {
                items[j].state = RelocationItem::State::kArrived;
                waiting.push_back(j);
            }
        }
        const bool done = relocator.Run(items, standing, forward, onArrived);
        for (const std::uint32_t j : waiting)
            items[j].state = RelocationItem::State::kPending;
        all = all && done;
        if (!done && forward) {
            for (const std::uint32_t j : waiting)
                items[j].state = RelocationItem::State::kStuck;
            return false;
        }
    }
    return all;
}

}  // namespace

RenameOutcome RunRenameJobs(std::vector<RenameJob>& jobs, RenameProgress& progress, FileSystem& fs,
                            const RenameRunSettings& settings) {
    const auto count = static_cast<std::uint32_t>(jobs.size());
    const auto giveUp = [&](RenameOutcome outcome) {
        progress.SetFinished();
        return outcome;
    };
    std::vector<std::string> oldPaths(count), newPaths(count);
    ParallelFor(count, [&](std::size_t begin, std::size_t end) {
        for (std::size_t j = begin; j < end; ++j) {
            oldPaths[j] = EncodeFileName(jobs[j].oldPath);
            newPaths[j] = EncodeFileName(jobs[j].newPath);
        }
    });
    FlatHashIndex runFiles;  // job ids by old path
    runFiles.Reserve(count);
    for (std::uint32_t j = 0; j < count; ++j) {
        const std::string& path = oldPaths[j];
        if (runFiles.Insert(HashBytes(path), j,
                            [&](std::uint32_t other) { return oldPaths[other] == path; }) != j) {
            // Two jobs for one file can never both succeed; touch nothing.
            return giveUp(RenameOutcome::kRolledBack);
        }
    }
    // The job whose file stands at each target, if any. A file of the run
    // can make way for one other file only, and not at all when it keeps its
    // name: such a run could never finish, so nothing moves.
    std::vector<std::uint32_t> targetJob(count, kNone);
    std::vector<bool> madeWay(count, false);
    for (std::uint32_t j = 0; j < count; ++j) {
        const std::string& path = newPaths[j];
        const std::uint32_t k = runFiles.Find(
            HashBytes(path), [&](std::uint32_t other) { return oldPaths[other] == path; });
        targetJob[j] = k;
        if (k == kNone || k == j) {
            continue;
        }
        if (oldPaths[k] == newPaths[k] || madeWay[k]) {
            return giveUp(RenameOutcome::kRolledBack);
        }
        madeWay[k] = true;
    }

    // No other run renames in these folders until this one has ended.
    std::vector<UniqueFd> locks;
    std::string lockedFolder;
    if (const int error = LockFolders(fs, oldPaths, newPaths, settings, locks, lockedFolder);
        error != 0) {
        for (RenameJob& job : jobs) {
            if (job.oldPath != job.newPath && EncodeFileName(Folder(job.oldPath)) == lockedFolder) {
                job.error = error;
                break;
            }
        }
        return giveUp(RenameOutcome::kRolledBack);
    }

    // Who each file is, checked again before each of its moves; and on
    // volumes whose inode numbers cannot be trusted later, the parking name
    // of every file whose move depends on others.
    SafeMover mover(fs);
    std::vector<FileIdentity> identities(count);
    std::vector<std::uint8_t> stable(count, 1);
    std::vector<std::string> parkNames(count);
    std::vector<std::uint32_t> parked;  // jobs that pass through their parking names, in order
    {
        std::vector<int> errors;
        {
            std::vector<const std::string*> sources(count);
            for (std::uint32_t j = 0; j < count; ++j) {
                if (oldPaths[j] != newPaths[j]) sources[j] = &oldPaths[j];
            }
            fs.IdentifyAll(sources, identities, errors);
        }
        std::string lastFolder;
        bool lastStable = true;
        std::unordered_set<std::string> promised;
        for (std::uint32_t j = 0; j < count; ++j) {
            if (oldPaths[j] == newPaths[j]) continue;
            if (errors[j] != 0) {
                jobs[j].error = errors[j];  // gone, or unreadable: the run cannot finish
                return giveUp(RenameOutcome::kRolledBack);
            }
            const std::string_view folder = FolderView(oldPaths[j]);
            if (j == 0 || folder != lastFolder) {
                lastFolder.assign(folder);
                lastStable = fs.KeepsInodeNumbers(lastFolder.empty() ? "/" : lastFolder);
            }
            stable[j] = lastStable;
            if (!lastStable && Entangled(j, oldPaths, newPaths, targetJob, madeWay)) {
                const std::string park =
                    mover.TempPath(lastFolder, ExtensionOf(oldPaths[j]), &promised);
                if (park.empty()) {
                    jobs[j].error = EEXIST;
                    return giveUp(RenameOutcome::kRolledBack);
                }
                parkNames[j] = NameOf(park);
                promised.insert(park);
                parked.push_back(j);
            }
        }
    }

    // The journal takes what identifies the volumes beside the check of the
    // targets; both only read.
    std::future<bool> journalPrepared;
    if (settings.journal != nullptr) {
        // On a thread of its own where one can start, else when asked for.
        journalPrepared = std::async(std::launch::async | std::launch::deferred, [&] {
            return settings.journal->Prepare({oldPaths, newPaths, identities, parkNames, stable});
        });
    }
    const Targets targets = CheckTargets(fs, oldPaths, newPaths, targetJob);
    const bool recorded = !journalPrepared.valid() || journalPrepared.get();
    switch (targets) {
        case Targets::kFree:
            break;
        case Targets::kTaken:
            progress.SetTargetExists();
            return giveUp(RenameOutcome::kTargetExists);
        case Targets::kShared:
            return giveUp(RenameOutcome::kRolledBack);
    }
    if (!recorded || (settings.journal != nullptr && !settings.journal->Commit())) {
        return giveUp(RenameOutcome::kRolledBack);
    }
    const auto markStage = [&](int stage) {
        return settings.journal == nullptr || settings.journal->MarkStage(stage);
    };

    // Phase 2: forward.
    bool useExchange = settings.useExchange;
    std::deque<std::string> pathStore;
    Relocator relocator(mover, useExchange, oldPaths, pathStore);
    relocator.CheckIdentities(identities, stable);
    std::vector<RelocationItem> items(count);
    for (std::uint32_t j = 0; j < count; ++j) {
        items[j].cur = oldPaths[j];
        items[j].dst = newPaths[j];
        if (oldPaths[j] == newPaths[j]) {
            items[j].state = RelocationItem::State::kArrived;
            jobs[j].done = true;
            progress.JobDone();
        }
    }
    std::vector<std::string> parkPaths(count);
    for (const std::uint32_t j : parked)
        parkPaths[j] = std::string(FolderView(oldPaths[j])) + '/' + parkNames[j];
    // Files whose names depend on each other all go to their parking names
    // first; then each name they held is free.
    const auto park = [&](std::uint32_t j) {
        RelocationItem& item = items[j];
        item.error = relocator.Park(j, item.cur, parkPaths[j]);
        if (item.error != 0) {
            return false;
        }
        item.cur = parkPaths[j];
        return true;
    };
    bool complete = true;
    for (const std::uint32_t j : parked) {
        if (!park(j)) {
            complete = false;
            break;
        }
    }
    int stage = 0;
    if (complete && !parked.empty()) {
        complete = markStage(1);
        stage = complete ? 1 : 0;
    }
    const std::function<void(std::uint32_t)> forwardArrived = [&](std::uint32_t j) {
        jobs[j].done = true;
        progress.JobDone();
    };
    if (complete) {
        std::vector<std::uint32_t> standing = targetJob;
        for (std::uint32_t j = 0; j < count; ++j) {
            if (standing[j] != kNone && !parkPaths[standing[j]].empty()) standing[j] = kNone;
        }
        complete = RunByDepth(relocator, items, standing, oldPaths, true, forwardArrived);
    }

    if (!complete) {
        // Phase 3: every file that left its old name goes back. Parked
        // files that arrived are parked again first, so that the journal
        // can say where all of them are; they go on to their old names only
        // once it says so.
        bool unpark = true;
        if (stage == 1) {
            for (const std::uint32_t j : parked) {
                if (items[j].cur == newPaths[j] && !park(j)) unpark = false;
            }
            unpark = unpark && markStage(2);
        }
        PathIndex occupants;
        for (std::uint32_t j = 0; j < count; ++j) {
            RelocationItem& item = items[j];
            item.dst = oldPaths[j];
            if (item.cur == item.dst) {
                item.state = RelocationItem::State::kArrived;
            } else {
                item.state = !unpark && !parkPaths[j].empty() ? RelocationItem::State::kStuck
                                                              : RelocationItem::State::kPending;
                occupants.emplace(item.cur, j);
            }
        }
        std::vector<std::uint32_t> standing(count, kNone);
        for (std::uint32_t j = 0; j < count; ++j) {
            if (items[j].state == RelocationItem::State::kPending) {
                const auto found = occupants.find(items[j].dst);
                if (found != occupants.end()) {
                    standing[j] = found->second;
                }
            }
        }
        RunByDepth(relocator, items, standing, oldPaths, false, [](std::uint32_t) {});
    }

    bool settled = true;  // every file under its old or its new name
    for (std::uint32_t j = 0; j < count; ++j) {
        const std::string_view at = items[j].cur;
        jobs[j].done = at == newPaths[j] && (complete || at != oldPaths[j]);
        jobs[j].tempPath.clear();
        if (at != oldPaths[j] && at != newPaths[j]) {
            jobs[j].tempPath = DecodeFileName(at);
        }
        if (jobs[j].error == 0) jobs[j].error = items[j].error;
        settled = settled && (complete ? at == newPaths[j] : at == oldPaths[j]);
    }
    if (settled && !mover.SecondNameLeft() && settings.journal != nullptr) {
        settings.journal->Finish();
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
