#include "engine/run_recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <ctime>
#include <deque>
#include <unordered_map>
#include <unordered_set>

#include "engine/relocator.h"
#include "engine/safe_move.h"
#include "engine/text.h"

namespace morix {
namespace {

// A journal larger than this is not one this program wrote.
constexpr off_t kMaxJournalBytes = off_t{1} << 30;
// An unfinished journal (still being written) older than this belongs to a
// process that died before its run moved anything, whatever runs under its
// process number now.
constexpr time_t kStaleUnfinishedSeconds = 600;

std::string ParkingPrefix() {
    return EncodeFileName(kTempPrefix);
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + '/' + name;
}

// File times and the clock the journal was stamped with may disagree by a
// tick around the turn of a second.
constexpr std::int64_t kClockSlackSeconds = 2;

// Whether names of a folder hold the files of a run, each name asked once. A
// file is the run's when it has the recorded inode number and was not born
// after the run started: inode numbers of deleted files are given out again.
class FolderFiles {
  public:
    FolderFiles(int fd, std::int64_t started) : fd_(fd), started_(started) {}

    std::uint64_t Inode(const std::string& name) { return Look(name).inode; }

    bool Holds(const std::string& name, std::uint64_t inode) {
        const Entry& entry = Look(name);
        return inode != 0 && entry.inode == inode && !entry.bornLater;
    }

  private:
    struct Entry {
        std::uint64_t inode = 0;
        bool bornLater = false;
    };

    const Entry& Look(const std::string& name) {
        const auto [at, fresh] = cache_.try_emplace(name);
        if (fresh) {
            struct statx st;
            if (statx(fd_, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME, &st) == 0) {
                at->second.inode = st.stx_ino;
                at->second.bornLater = (st.stx_mask & STATX_BTIME) != 0 &&
                                       st.stx_btime.tv_sec > started_ + kClockSlackSeconds;
            }
        }
        return at->second;
    }

    int fd_;
    std::int64_t started_;
    std::unordered_map<std::string, Entry> cache_;
};

// A name that still points at a file that is back home: removed once the
// file is home, and only while it is a second link to that same file.
struct ExtraName {
    std::uint32_t item;
    std::string path;
    std::uint64_t inode;
};

class RunRestorer {
  public:
    RunRestorer(const JournalRecord& record, FileSystem& fs) : record_(record), fs_(fs) {}

    RecoveredRun Restore() {
        result_.pid = record_.pid;
        result_.files = record_.FileCount();
        // Items keep views of these paths: no reallocation afterwards.
        originals_.reserve(result_.files);
        items_.reserve(result_.files);
        for (const JournalFolder& folder : record_.folders)
            LocateFolder(folder);
        MoveHome();
        return std::move(result_);
    }

  private:
    // Finds where each file of the folder is now.
    void LocateFolder(const JournalFolder& folder) {
        const std::uint32_t first = static_cast<std::uint32_t>(items_.size());
        for (const JournalFile& file : folder.files) {
            const std::string& oldPath =
                originals_.emplace_back(JoinPath(folder.path, file.oldName));
            items_.push_back(RelocationItem{{}, oldPath, RelocationItem::State::kStuck, 0});
        }
        const int fd = open(folder.path.empty() ? "/" : folder.path.c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat st;
        int error = fd < 0 ? errno : (fstat(fd, &st) != 0 ? errno : 0);
        if (error == 0 && st.st_dev != folder.device) {
            error = ENODEV;  // another volume is mounted there now: its inode numbers mean nothing
        }
        if (error != 0) {
            for (std::uint32_t i = first; i < items_.size(); ++i)
                items_[i].error = error;
            if (fd >= 0) close(fd);
            return;
        }
        FolderFiles here(fd, record_.started);
        // Where files of the run may stand: any old or new name of the run
        // (swapped names put a file under a name of another), or a parking
        // name. By inode number.
        std::unordered_set<std::string> candidates;
        for (const JournalFile& file : folder.files) {
            candidates.insert(file.oldName);
            candidates.insert(file.newName);
        }
        std::vector<std::string> names;
        if (fs_.ListNames(folder.path, names) == 0) {
            const std::string prefix = ParkingPrefix();
            for (std::string& name : names) {
                if (name.compare(0, prefix.size(), prefix) == 0) candidates.insert(std::move(name));
            }
        }
        std::unordered_multimap<std::uint64_t, std::string_view> byInode;
        for (const std::string& name : candidates) {
            if (const std::uint64_t inode = here.Inode(name); inode != 0)
                byInode.emplace(inode, name);
        }
        std::unordered_set<std::string_view> claimed;
        // Files at home first: their names are settled.
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            const JournalFile& file = folder.files[f];
            RelocationItem& item = items_[first + f];
            if (here.Holds(file.oldName, file.inode) && claimed.insert(file.oldName).second) {
                item.cur = item.dst;
                item.state = RelocationItem::State::kArrived;
            }
        }
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            const JournalFile& file = folder.files[f];
            RelocationItem& item = items_[first + f];
            if (item.state == RelocationItem::State::kArrived || file.inode == 0) continue;
            std::string_view found;
            if (!claimed.contains(file.newName) && here.Holds(file.newName, file.inode)) {
                found = file.newName;
            } else {
                const auto [begin, end] = byInode.equal_range(file.inode);
                for (auto it = begin; it != end && found.empty(); ++it) {
                    if (!claimed.contains(it->second) &&
                        here.Holds(std::string(it->second), file.inode))
                        found = it->second;
                }
            }
            if (found.empty()) continue;  // not found: stays stuck
            claimed.insert(found);
            item.cur = store_.emplace_back(JoinPath(folder.path, std::string(found)));
            item.state = RelocationItem::State::kPending;
        }
        // Second names of files (a move by link cut short between its two
        // steps): any other name of the run still linked to the file.
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            const JournalFile& file = folder.files[f];
            const auto i = static_cast<std::uint32_t>(first + f);
            if (file.inode == 0 || items_[i].state == RelocationItem::State::kStuck) continue;
            const auto [begin, end] = byInode.equal_range(file.inode);
            for (auto it = begin; it != end; ++it) {
                if (!claimed.contains(it->second) &&
                    here.Holds(std::string(it->second), file.inode)) {
                    extras_.push_back(
                        {i, JoinPath(folder.path, std::string(it->second)), file.inode});
                }
            }
        }
        close(fd);
    }

    void MoveHome() {
        std::unordered_map<std::string_view, std::uint32_t> occupants;
        for (std::uint32_t i = 0; i < items_.size(); ++i) {
            if (items_[i].state == RelocationItem::State::kPending)
                occupants.emplace(items_[i].cur, i);
        }
        std::vector<std::uint32_t> standing(items_.size(), kNoItem);
        for (std::uint32_t i = 0; i < items_.size(); ++i) {
            if (items_[i].state != RelocationItem::State::kPending) continue;
            const auto found = occupants.find(items_[i].dst);
            if (found != occupants.end()) standing[i] = found->second;
        }
        // Second names of files at home may stand where others must go.
        RemoveExtraNames();
        SafeMover mover(fs_);
        bool useExchange = true;
        Relocator relocator(mover, useExchange, originals_, store_);
        relocator.Run(items_, standing, false, [&](std::uint32_t) { ++result_.returned; });
        RemoveExtraNames();

        for (std::uint32_t i = 0; i < items_.size(); ++i) {
            const RelocationItem& item = items_[i];
            if (item.state == RelocationItem::State::kArrived) continue;
            result_.unreturned.push_back({originals_[i],
                                          item.cur.empty() ? std::string() : std::string(item.cur),
                                          item.error});
        }
    }

    // Removes the second names of files that are home, while they are still
    // links to those files (so nothing is lost with them).
    void RemoveExtraNames() {
        for (ExtraName& extra : extras_) {
            if (extra.path.empty() || items_[extra.item].state != RelocationItem::State::kArrived)
                continue;
            struct stat st;
            if (lstat(extra.path.c_str(), &st) == 0 && st.st_ino == extra.inode && st.st_nlink > 1)
                fs_.Unlink(extra.path);
            extra.path.clear();
        }
    }

    const JournalRecord& record_;
    FileSystem& fs_;
    RecoveredRun result_;
    std::vector<RelocationItem> items_;
    std::vector<std::string> originals_;  // old path per item
    std::deque<std::string> store_;
    std::vector<ExtraName> extras_;
};

// Reads a whole journal from an open descriptor.
bool ReadJournalText(int fd, std::string& text, std::string& problem) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        problem = std::strerror(errno);
        return false;
    }
    if (st.st_size > kMaxJournalBytes) {
        problem = "the record is too large to be a journal of this program";
        return false;
    }
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            problem = n < 0 ? std::strerror(errno) : "the record is cut short";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The same file as the one open on fd is still at path.
bool StillNamed(int fd, const std::string& path) {
    struct stat open, named;
    return fstat(fd, &open) == 0 && open.st_nlink > 0 && lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// The process that wrote a journal, from its name "run-<pid>-...".
pid_t WriterOf(std::string_view name) {
    pid_t pid = 0;
    if (!name.starts_with("run-")) return 0;
    name.remove_prefix(4);
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    return error == std::errc() && end != name.data() && *end == '-' ? pid : 0;
}

// A journal left while being written: nothing had moved yet, so it goes once
// its writer has ended (or, should its number have been given to another
// process, once it is old).
void RemoveAbandonedUnfinished(const std::string& path, std::string_view name) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const pid_t writer = WriterOf(name);
    const bool writerGone = writer > 0 && kill(writer, 0) != 0 && errno == ESRCH;
    if (!writerGone && std::time(nullptr) - st.st_mtime < kStaleUnfinishedSeconds) return;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path)) unlink(path.c_str());
    close(fd);
}

}  // namespace

RecoveredRun RollBackRun(const JournalRecord& record, FileSystem& fs) {
    return RunRestorer(record, fs).Restore();
}

bool RecoveryReport::Complete() const {
    return std::all_of(runs.begin(), runs.end(),
                       [](const RecoveredRun& run) { return run.Complete(); });
}

RecoveryReport RecoverInterruptedRuns(const std::string& folder, FileSystem& fs) {
    RecoveryReport report;
    std::vector<std::string> names;
    if (fs.ListNames(folder, names) != 0) return report;  // no journals kept yet
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = folder + '/' + name;
        if (EndsWith(name, kUnfinishedJournalSuffix)) {
            RemoveAbandonedUnfinished(path, name);
            continue;
        }
        if (!EndsWith(name, kJournalSuffix)) continue;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            if (errno != ENOENT) {
                RecoveredRun& run = report.runs.emplace_back();
                run.journalPath = path;
                run.damage = std::strerror(errno);
            }
            continue;
        }
        // The lock is held for as long as the run's process lives.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) report.liveRuns.push_back(path);
            close(fd);
            continue;
        }
        if (!StillNamed(fd, path)) {  // the run finished while we looked
            close(fd);
            continue;
        }
        std::string text, problem;
        RecoveredRun run;
        if (ReadJournalText(fd, text, problem)) {
            auto parsed = ParseJournal(text);
            if (auto* record = std::get_if<JournalRecord>(&parsed)) {
                run = RollBackRun(*record, fs);
                if (run.Complete()) {
                    for (const JournalFolder& runFolder : record->folders)
                        SyncFolder(runFolder.path);
                    unlink(path.c_str());
                    SyncFolder(folder);
                }
            } else {
                run.damage = std::get<std::string>(parsed);
            }
        } else {
            run.damage = problem;
        }
        run.journalPath = path;
        report.runs.push_back(std::move(run));
        close(fd);
    }
    return report;
}

}  // namespace morix
