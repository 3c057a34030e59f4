#include "engine/rename_run.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <future>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/flat_hash_index.h"
#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/relocator.h"
#include "engine/safe_move.h"
#include "engine/taken_target.h"
#include "engine/text.h"

namespace morix {

RenameJobs BuildRenameJobs(const RenameList& list, std::span<const std::uint32_t> rows,
                           const RenameOptions& options, NameRegistry& registry,
                           std::vector<std::size_t>* regexStopped, CaptureDateCache* dates) {
    const auto names = ComputeNewNames(list, rows, options, registry, dates);
    if (regexStopped != nullptr) *regexStopped = names.RegexStoppedRows();
    // The registry's work ends with the names; its memory goes before the
    // jobs take theirs.
    registry.Release();
    return BuildRenameJobs(list, rows, names);
}

RenameJobs BuildRenameJobs(const RenameList& list, std::span<const std::uint32_t> rows,
                           const NameList& names) {
    RenameJobs jobs;
    jobs.Reserve(rows.size());
    std::string oldPath, newPath;  // reused: the bytes of one job at a time
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const RenameItem item = list.ItemAt(rows[r]);
        oldPath.clear();
        AppendFileNameBytes(oldPath, item.folder);
        AppendFileNameBytes(oldPath, item.name);
        // New names are never empty and hold no "/": the new path is the
        // name in the item's folder, and in the root for a path without one.
        newPath.clear();
        AppendFileNameBytes(newPath, item.folder.empty() ? u"/" : item.folder);
        AppendFileNameBytes(newPath, names[r]);
        jobs.Add(oldPath, newPath);
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

enum class Targets { kFree, kTaken, kShared };

// The jobs whose targets are not names of the run's own files, by the
// target's folder (with its final "/").
std::unordered_map<std::string_view, std::vector<std::uint32_t>> OutsideTargetsByFolder(
    const std::vector<std::string_view>& oldPaths, const std::vector<std::string_view>& newPaths,
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
    return byFolder;
}

// The targets of one folder, checked against its entries as they are read
// (a volume that keeps names exactly): the folder's names are never kept.
// Of the jobs in order, the first whose target is taken or that shares its
// target with an earlier job decides; kTaken as well when the folder cannot
// be read.
Targets CheckAgainstEntries(FileSystem& fs, const std::string& folder,
                            const std::vector<std::uint32_t>& jobs,
                            const std::function<std::string_view(std::uint32_t)>& nameOf) {
    // Ids are places in jobs.
    const auto count = static_cast<std::uint32_t>(jobs.size());
    FlatHashIndex targets;
    targets.Reserve(count);
    std::uint32_t firstShared = kNone;
    for (std::uint32_t id = 0; id < count; ++id) {
        const std::string_view key = nameOf(jobs[id]);
        const std::uint32_t first = targets.Insert(
            HashBytes(key), id, [&](std::uint32_t other) { return nameOf(jobs[other]) == key; });
        if (first != id) {
            firstShared = id;
            break;
        }
    }
    // The first job whose target the folder holds, among those before the
    // first shared target.
    std::uint32_t firstTaken = kNone;
    const int error = fs.ForEachName(folder, [&](std::string_view name) {
        const std::uint32_t id = targets.Find(
            HashBytes(name), [&](std::uint32_t other) { return nameOf(jobs[other]) == name; });
        if (id != kNone) firstTaken = std::min(firstTaken, id);
        return firstTaken != 0;
    });
    if (error != 0) return Targets::kTaken;
    if (firstTaken != kNone && (firstShared == kNone || firstTaken < firstShared))
        return Targets::kTaken;
    return firstShared != kNone ? Targets::kShared : Targets::kFree;
}

// Whether a target is taken by something that is not a file of the run, or
// shared by two files (which can never both arrive). A target that differs
// from the file's own name in letter case only is the file itself when the
// folder does not list the target's exact name (a case-insensitive volume
// found the file under its old spelling).
Targets CheckTargets(FileSystem& fs, const std::vector<std::string_view>& oldPaths,
                     const std::vector<std::string_view>& newPaths,
                     const std::vector<std::uint32_t>& targetJob) {
    std::vector<std::string> names;
    for (const auto& entry : OutsideTargetsByFolder(oldPaths, newPaths, targetJob)) {
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
        const std::function<bool()> listFolder = [&] {
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
            if (const Targets t = CheckAgainstEntries(fs, folder, jobs, nameOf);
                t != Targets::kFree)
                return t;
            continue;
        }
        std::unordered_set<std::string_view> targets;
        for (std::uint32_t j : jobs) {
            if (!targets.insert(nameOf(j)).second) {
                return Targets::kShared;
            }
            if (OutsideTargetTaken(fs, std::string(oldPaths[j]), std::string(newPaths[j]), exact,
                                   listFolder, names)) {
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
int LockFolders(FileSystem& fs, const std::vector<std::string_view>& oldPaths,
                const std::vector<std::string_view>& newPaths, const RenameRunSettings& settings,
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
bool Entangled(std::uint32_t j, const std::vector<std::string_view>& oldPaths,
               const std::vector<std::string_view>& newPaths,
               const std::vector<std::uint32_t>& targetJob, const std::vector<bool>& madeWay) {
    return madeWay[j] || (targetJob[j] != kNone && targetJob[j] != j) ||
           AsciiEqualsNoCase(oldPaths[j], newPaths[j]);
}

// How deep in the tree of folders path lies.
std::size_t DepthOf(std::string_view path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

// Moves the items folder depth by folder depth: forward the deepest first,
// so files inside a folder the run renames move while their folder still has
// its old name; back the shallowest first, so that folder is home before
// they go back. Files of one folder (all that can wait for each other) are
// always moved together. afterLayer, when given, is asked after each depth
// whose moves all succeeded, while their folders still have the names the
// moves used, whether the run goes on.
bool RunByDepth(Relocator& relocator, std::vector<RelocationItem>& items,
                const std::vector<std::uint32_t>& standing,
                const std::vector<std::string_view>& oldPaths, bool forward,
                const std::function<void(std::uint32_t)>& onArrived,
                const std::function<bool(std::size_t depth)>& afterLayer = nullptr) {
    std::vector<std::size_t> depth(items.size());
    std::vector<std::size_t> depths;
    for (std::size_t j = 0; j < items.size(); ++j) {
        if (items[j].state != RelocationItem::State::kPending) continue;
        depth[j] = DepthOf(oldPaths[j]);
        depths.push_back(depth[j]);
    }
    std::sort(depths.begin(), depths.end());
    depths.erase(std::unique(depths.begin(), depths.end()), depths.end());
    if (depths.size() <= 1) {
        return relocator.Run(items, standing, forward, onArrived) &&
               (!afterLayer || depths.empty() || afterLayer(depths.front()));
    }
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
        const bool done = relocator.Run(items, standing, forward, onArrived) &&
                          (!afterLayer || afterLayer(layer));
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

namespace {

// One run, phase by phase: each phase either leads on to the next or ends
// the run with an outcome.
class RenameRunner {
  public:
    RenameRunner(RenameJobs& jobs, RenameProgress& progress, FileSystem& fs,
                 const RenameRunSettings& settings)
        : jobs_(jobs),
          oldPaths_(jobs.OldPaths()),
          newPaths_(jobs.NewPaths()),
          progress_(progress),
          fs_(fs),
          settings_(settings),
          count_(static_cast<std::uint32_t>(jobs.size())),
          mover_(fs),
          useExchange_(settings.useExchange),
          relocator_(mover_, useExchange_, oldPaths_, pathStore_) {}

    RenameOutcome Run() {
        if (!Plan() || !LockFolders() || !Identify()) return End(RenameOutcome::kRolledBack);
        if (const std::optional<RenameOutcome> refused = RecordAndCheckTargets())
            return End(*refused);
        const bool complete = MoveForward();
        if (!complete) MoveBack();
        Settle(complete);
        return End(complete ? RenameOutcome::kRenamed : RenameOutcome::kRolledBack);
    }

  private:
    // The last step of every run, whatever its outcome.
    RenameOutcome End(RenameOutcome outcome) {
        progress_.SetFinished();
        return outcome;
    }

    // The job whose file stands at each target. Two jobs for one file, a
    // file that keeps its name while another needs it, or one that must make
    // way for two: such a run could never finish, so nothing moves.
    bool Plan() {
        jobs_.ClearOutcome();
        FlatHashIndex runFiles;  // job ids by old path
        runFiles.Reserve(count_);
        for (std::uint32_t j = 0; j < count_; ++j) {
            const std::string_view path = oldPaths_[j];
            if (runFiles.Insert(HashBytes(path), j, [&](std::uint32_t other) {
                    return oldPaths_[other] == path;
                }) != j) {
                return false;
            }
        }
        targetJob_.assign(count_, kNone);
        madeWay_.assign(count_, false);
        for (std::uint32_t j = 0; j < count_; ++j) {
            const std::string_view path = newPaths_[j];
            const std::uint32_t k = runFiles.Find(
                HashBytes(path), [&](std::uint32_t other) { return oldPaths_[other] == path; });
            targetJob_[j] = k;
            if (k == kNone || k == j) continue;
            if (oldPaths_[k] == newPaths_[k] || madeWay_[k]) return false;
            madeWay_[k] = true;
        }
        return true;
    }

    // No other run renames in these folders until this one has ended.
    bool LockFolders() {
        std::string lockedFolder;
        const int error =
            morix::LockFolders(fs_, oldPaths_, newPaths_, settings_, locks_, lockedFolder);
        if (error == 0) return true;
        for (std::uint32_t j = 0; j < count_; ++j) {
            const std::string_view folder = FolderView(oldPaths_[j]);
            if (oldPaths_[j] != newPaths_[j] && (folder.empty() ? "/" : folder) == lockedFolder) {
                jobs_.SetError(j, error);
                break;
            }
        }
        return false;
    }

    // Who each file is, checked again before each of its moves; and on
    // volumes whose inode numbers cannot be trusted later, the parking name
    // of every file whose move depends on others.
    bool Identify() {
        stable_.assign(count_, 1);
        std::vector<int> errors;
        if (settings_.sourceIdentities.size() == count_) {
            identities_ = &settings_.sourceIdentities;
            errors.assign(count_, 0);
        } else {
            std::vector<std::string_view> sources(count_);
            for (std::uint32_t j = 0; j < count_; ++j) {
                if (oldPaths_[j] != newPaths_[j]) sources[j] = oldPaths_[j];
            }
            fs_.IdentifyAll(sources, ownIdentities_, errors);
        }
        std::string lastFolder;
        bool lastStable = true;
        std::unordered_set<std::string> promised;
        for (std::uint32_t j = 0; j < count_; ++j) {
            if (oldPaths_[j] == newPaths_[j]) continue;
            if (errors[j] != 0) {
                jobs_.SetError(j, errors[j]);  // gone, or unreadable: the run cannot finish
                return false;
            }
            const std::string_view folder = FolderView(oldPaths_[j]);
            if (j == 0 || folder != lastFolder) {
                lastFolder.assign(folder);
                lastStable = fs_.KeepsInodeNumbers(lastFolder.empty() ? "/" : lastFolder);
            }
            stable_[j] = lastStable;
            if (!lastStable && Entangled(j, oldPaths_, newPaths_, targetJob_, madeWay_)) {
                const std::string park =
                    mover_.TempPath(lastFolder, ExtensionOf(oldPaths_[j]), &promised);
                if (park.empty()) {
                    jobs_.SetError(j, EEXIST);
                    return false;
                }
                if (parkNames_.empty()) parkNames_.resize(count_);
                parkNames_[j] = NameOf(park);
                promised.insert(park);
                parked_.push_back(j);
            }
        }
        return true;
    }

    // The journal takes what identifies the volumes beside the check of the
    // targets; both only read. Then the journal goes on disk. An outcome
    // when the run must not start.
    std::optional<RenameOutcome> RecordAndCheckTargets() {
        RunJournal* journal = settings_.journal;
        std::future<bool> journalPrepared;
        if (journal != nullptr) {
            // On a thread of its own where one can start, else when asked for.
            journalPrepared = std::async(std::launch::async | std::launch::deferred, [&] {
                return journal->Prepare({oldPaths_, newPaths_, *identities_, parkNames_, stable_});
            });
        }
        const Targets targets = CheckTargets(fs_, oldPaths_, newPaths_, targetJob_);
        const bool recorded = !journalPrepared.valid() || journalPrepared.get();
        switch (targets) {
            case Targets::kFree:
                break;
            case Targets::kTaken:
                progress_.SetTargetExists();
                return RenameOutcome::kTargetExists;
            case Targets::kShared:
                return RenameOutcome::kRolledBack;
        }
        if (!recorded || (journal != nullptr && !journal->Commit()))
            return RenameOutcome::kRolledBack;
        return std::nullopt;
    }

    bool MarkStage(int stage) {
        return settings_.journal == nullptr || settings_.journal->MarkStage(stage);
    }

    // Whether job j's file passes through its parking name.
    bool Parks(std::uint32_t j) const { return !parkPaths_.empty() && !parkPaths_[j].empty(); }

    // Moves item j's file to its parking name.
    bool Park(std::uint32_t j) {
        RelocationItem& item = items_[j];
        item.error = relocator_.Park(j, item.cur, parkPaths_[j]);
        if (item.error != 0) return false;
        item.cur = parkPaths_[j];
        return true;
    }

    // Every file to its new name. Files whose names depend on each other on
    // a volume that does not keep inode numbers all go to their parking
    // names first (then each name they held is free), and the journal says
    // so before any goes on.
    bool MoveForward() {
        relocator_.CheckIdentities(*identities_, stable_);
        items_.resize(count_);
        for (std::uint32_t j = 0; j < count_; ++j) {
            items_[j].cur = oldPaths_[j];
            items_[j].dst = newPaths_[j];
            if (oldPaths_[j] == newPaths_[j]) {
                items_[j].state = RelocationItem::State::kArrived;
                progress_.JobDone();
            }
        }
        if (!parked_.empty()) parkPaths_.resize(count_);
        for (const std::uint32_t j : parked_)
            parkPaths_[j] = std::string(FolderView(oldPaths_[j])) + '/' + parkNames_[j];
        for (const std::uint32_t j : parked_) {
            if (!Park(j)) return false;
        }
        if (!parked_.empty()) {
            if (!MarkStage(1)) return false;
            stage_ = 1;
        }
        std::vector<std::uint32_t> standing = targetJob_;
        for (std::uint32_t j = 0; j < count_; ++j) {
            if (standing[j] != kNone && Parks(standing[j])) standing[j] = kNone;
        }
        // The progress counts each arrival at the next one, and the last of
        // a depth once its names are found: a run that then fails never
        // showed every file done.
        bool uncounted = false;
        mover_.DeferStoredNameChecks(true);
        const bool moved = RunByDepth(
            relocator_, items_, standing, oldPaths_, true,
            [&](std::uint32_t) {
                if (uncounted) progress_.JobDone();
                uncounted = true;
            },
            [&](std::size_t depth) {
                if (!NamesStoredAsAsked(depth)) return false;
                if (uncounted) progress_.JobDone();
                uncounted = false;
                return true;
            });
        mover_.DeferStoredNameChecks(false);
        return moved;
    }

    // On volumes that may store another name than asked (one that drops a
    // trailing dot), the new names of the files at a depth are looked for
    // once those files have moved: one reading of each folder, not one per
    // move. A name not found fails the run, which then moves every file back.
    bool NamesStoredAsAsked(std::size_t depth) {
        const std::vector<std::size_t> missing =
            mover_.NamesNotStored(newPaths_, [&](std::size_t k) {
                return oldPaths_[k] != newPaths_[k] && DepthOf(oldPaths_[k]) == depth;
            });
        if (missing.empty()) return true;
        items_[missing.front()].error = EINVAL;
        return false;
    }

    // Every file that left its old name goes back. Parked files that
    // arrived are parked again first, so that the journal can say where all
    // of them are; they go on to their old names only once it says so.
    void MoveBack() {
        bool unpark = true;
        if (stage_ == 1) {
            for (const std::uint32_t j : parked_) {
                if (items_[j].cur == newPaths_[j] && !Park(j)) unpark = false;
            }
            unpark = unpark && MarkStage(2);
        }
        PathIndex occupants;
        for (std::uint32_t j = 0; j < count_; ++j) {
            RelocationItem& item = items_[j];
            item.dst = oldPaths_[j];
            if (item.cur == item.dst) {
                item.state = RelocationItem::State::kArrived;
            } else {
                item.state = !unpark && Parks(j) ? RelocationItem::State::kStuck
                                                 : RelocationItem::State::kPending;
                occupants.emplace(item.cur, j);
            }
        }
        std::vector<std::uint32_t> standing(count_, kNone);
        for (std::uint32_t j = 0; j < count_; ++j) {
            if (items_[j].state == RelocationItem::State::kPending) {
                const auto found = occupants.find(items_[j].dst);
                if (found != occupants.end()) standing[j] = found->second;
            }
        }
        RunByDepth(relocator_, items_, standing, oldPaths_, false, [](std::uint32_t) {});
    }

    // Tells each job where its file ended, and closes the journal when every
    // file is under its old or its new name.
    void Settle(bool complete) {
        bool settled = true;
        for (std::uint32_t j = 0; j < count_; ++j) {
            const std::string_view at = items_[j].cur;
            jobs_.SetDone(j, at == newPaths_[j] && (complete || at != oldPaths_[j]));
            if (at != oldPaths_[j] && at != newPaths_[j]) jobs_.SetTempPath(j, at);
            if (jobs_.Error(j) == 0) jobs_.SetError(j, items_[j].error);
            settled = settled && (complete ? at == newPaths_[j] : at == oldPaths_[j]);
        }
        if (settled && !mover_.SecondNameLeft() && settings_.journal != nullptr) {
            settings_.journal->Finish(complete);
        }
    }

    RenameJobs& jobs_;
    const std::vector<std::string_view>& oldPaths_;
    const std::vector<std::string_view>& newPaths_;
    RenameProgress& progress_;
    FileSystem& fs_;
    const RenameRunSettings& settings_;
    const std::uint32_t count_;
    std::vector<std::uint32_t> targetJob_;  // the job whose file stands at each target
    std::vector<bool> madeWay_;             // the file makes way for another
    std::vector<UniqueFd> locks_;
    std::vector<FileIdentity> ownIdentities_;
    const std::vector<FileIdentity>* identities_ = &ownIdentities_;  // per job: its source's
    std::vector<std::uint8_t> stable_;    // per job: the volume keeps inode numbers
    std::vector<std::string> parkNames_;  // per job, or empty while no file parks
    std::vector<std::uint32_t> parked_;   // jobs that pass through their parking names, in order
    std::vector<std::string> parkPaths_;  // the same as paths
    SafeMover mover_;
    bool useExchange_;
    std::deque<std::string> pathStore_;
    Relocator relocator_;
    std::vector<RelocationItem> items_;
    int stage_ = 0;  // the last stage the journal records
};

}  // namespace

RenameOutcome RunRenameJobs(RenameJobs& jobs, RenameProgress& progress, FileSystem& fs,
                            const RenameRunSettings& settings) {
    return RenameRunner(jobs, progress, fs, settings).Run();
}

RenameRun::RenameRun(RenameJobs jobs, FileSystem& fs, RenameRunSettings settings)
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
