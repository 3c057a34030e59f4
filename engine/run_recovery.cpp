#include "engine/run_recovery.h"

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

#include "engine/content_print.h"
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

// What names of a folder hold now, each name asked once.
class FolderFiles {
  public:
    FolderFiles(FileSystem& fs, const std::string& folder, std::int64_t started)
        : fs_(fs), folder_(folder), started_(started) {}

    struct Entry {
        bool present = false;
        int error = 0;  // why the name could not be looked at (never ENOENT)
        FileIdentity identity;
        bool bornLater = false;  // after the run started: never one of its files
    };

    const Entry& Look(const std::string& name) {
        const auto [at, fresh] = cache_.try_emplace(name);
        if (fresh) {
            Entry& e = at->second;
            const int error = fs_.Identify(JoinPath(folder_, name), e.identity);
            e.present = error == 0;
            e.error = error == ENOENT ? 0 : error;
            e.bornLater = e.present && e.identity.btimeSec != kNoBirthTime &&
                          e.identity.btimeSec > started_ + kClockSlackSeconds;
        }
        return at->second;
    }

    // Whether name holds the recorded file: every recorded property
    // matches, and it was not born after the run started.
    bool Holds(const std::string& name, const JournalFile& file, bool stableInodes) {
        const Entry& entry = Look(name);
        FileIdentity now = entry.identity;
        now.device = file.identity.device;  // the folder's device was checked already
        return entry.present && !entry.bornLater &&
               SameFileAndContent(file.identity, now, stableInodes);
    }

    void Forget(const std::string& name) { cache_.erase(name); }

    // Notes that name is not in the folder, without asking the volume.
    void Absent(const std::string& name) { cache_.try_emplace(name); }

  private:
    FileSystem& fs_;
    const std::string& folder_;
    std::int64_t started_;
    std::unordered_map<std::string, Entry> cache_;
};

class RunRestorer {
  public:
    RunRestorer(const JournalRecord& record, FileSystem& fs, const StageMarker& markStage)
        : record_(record), fs_(fs), markStage_(markStage), stage_(record.stage) {}

    RecoveredRun Restore() {
        result_.pid = record_.pid;
        result_.files = record_.FileCount();
        // Items keep views of these paths: no reallocation afterwards.
        originals_.reserve(result_.files);
        items_.reserve(result_.files);
        for (const JournalFolder& folder : record_.folders) {
            firstItem_.push_back(static_cast<std::uint32_t>(items_.size()));
            for (const JournalFile& file : folder.files) {
                const std::string& oldPath =
                    originals_.emplace_back(JoinPath(folder.path, file.oldName));
                items_.push_back(RelocationItem{{}, oldPath, RelocationItem::State::kStuck, 0});
                identities_.push_back(file.identity);
                stable_.push_back(folder.stableInodes);
                parkPaths_.push_back(file.parkName.empty() ? std::string()
                                                           : JoinPath(folder.path, file.parkName));
            }
        }
        // A folder inside a folder of the run can be reached only once that
        // one is home: every round locates what it can and moves it home.
        std::vector<bool> located(record_.folders.size(), false);
        for (bool progress = true; progress;) {
            progress = false;
            for (std::size_t g = 0; g < record_.folders.size(); ++g) {
                if (!located[g] && LocateFolder(g)) located[g] = progress = true;
            }
            if (progress) MoveHome(located);
        }
        for (std::size_t g = 0; g < record_.folders.size(); ++g) {
            if (located[g]) continue;
            for (std::uint32_t i = firstItem_[g]; i < firstItem_[g] + record_.folders[g].files.size();
                 ++i)
                items_[i].error = ENOENT;
        }
        result_.unreturned = std::move(leftNames_);
        for (std::uint32_t i = 0; i < items_.size(); ++i) {
            const RelocationItem& item = items_[i];
            if (item.state == RelocationItem::State::kArrived) continue;
            result_.unreturned.push_back({originals_[i],
                                          item.cur.empty() ? std::string() : std::string(item.cur),
                                          item.error});
        }
        return std::move(result_);
    }

  private:
    using Candidates = std::unordered_set<std::string>;
    using ByInode = std::unordered_multimap<std::uint64_t, const std::string*>;

    // Finds where each file of folder g is now. False when the folder is not
    // there (yet): a folder of the run above it may still be away.
    bool LocateFolder(std::size_t g) {
        const JournalFolder& folder = record_.folders[g];
        const std::uint32_t first = firstItem_[g];
        const auto failAll = [&](int error) {
            for (std::uint32_t i = first; i < first + folder.files.size(); ++i)
                items_[i].error = error;
            return true;
        };
        if (const int error = TakeFolder(folder); error != 0)
            return error == ENOENT ? false : failAll(error);
        FolderFiles here(fs_, folder.path, record_.started);
        Candidates candidates;
        ByInode byInode;
        if (const int error = FindCandidates(folder, here, candidates, byInode); error != 0)
            return failAll(error);
        std::unordered_set<std::string> claimed;
        const auto place = [&](std::size_t f, const std::string& name) {
            RelocationItem& item = items_[first + f];
            claimed.insert(name);
            if (name == folder.files[f].oldName) {
                item.cur = item.dst;
                item.state = RelocationItem::State::kArrived;
            } else {
                item.cur = store_.emplace_back(JoinPath(folder.path, name));
                item.state = RelocationItem::State::kPending;
            }
        };
        if (folder.stableInodes) {
            LocateByInode(folder, here, byInode, claimed, place);
        } else {
            LocateByNames(folder, here, claimed, place);
            RemoveTwins(g, here, claimed);
            TakeBackFromVolumeCheck(g);
        }
        RemoveReservations(folder, here, candidates, claimed);
        RemoveSecondNames(g, here, byInode, claimed);
        return true;
    }

    // Opens folder, makes sure it is still the run's volume, and takes its
    // lock: 0, ENOENT when the folder is not there, or why it cannot be
    // used now (kOtherVolume, EBUSY for a live run, an errno value).
    int TakeFolder(const JournalFolder& folder) {
        UniqueFd fd;
        if (const int error = fs_.OpenFolder(folder.path, fd); error != 0) return error;
        FileIdentity self;
        if (const int error = fs_.IdentifyOpen(fd.Get(), self); error != 0) return error;
        // Another volume mounted there now has names and numbers of its own.
        const bool sameVolume = folder.volume.empty()
                                    ? self.device == folder.device
                                    : OnRecordedVolume(folder.path, self.device, folder.volume);
        if (!sameVolume) return kOtherVolume;
        UniqueFd lock;
        if (const int error = fs_.LockFolder(folder.path.empty() ? "/" : folder.path, false, lock);
            error != 0) {
            return error == EWOULDBLOCK ? EBUSY : error;
        }
        locks_.push_back(std::move(lock));
        return 0;
    }

    // Whether the folder at path, open on device, is on the volume recorded.
    // What identifies a volume takes a probe of its device: it is asked once
    // per device, as the journal recorded it.
    bool OnRecordedVolume(const std::string& path, std::uint64_t device,
                          const std::string& recorded) {
        auto at = volumes_.find(device);
        if (at == volumes_.end()) {
            std::string volume;
            if (fs_.VolumeOf(path, volume) != 0) return false;
            at = volumes_.emplace(device, std::move(volume)).first;
        }
        return at->second == recorded;
    }

    // Every name where a file of the run may stand, by the number the
    // volume gives its file now: the run's old, new and parking names, and
    // any parking name in the folder. 0, or why the folder cannot be read:
    // a name that cannot be looked at may hold any of the files.
    int FindCandidates(const JournalFolder& folder, FolderFiles& here, Candidates& candidates,
                       ByInode& byInode) {
        for (const JournalFile& file : folder.files) {
            candidates.insert(file.oldName);
            candidates.insert(file.newName);
            if (!file.parkName.empty()) candidates.insert(file.parkName);
        }
        std::vector<std::string> names;
        if (const int error = fs_.ListNames(folder.path, names); error != 0) return error;
        const std::string prefix = ParkingPrefix();
        // A parking name the folder does not list holds nothing: it is not
        // looked up, which on vfat is a search through the whole folder.
        // Parking names are this program's own; in ASCII, no volume answers
        // to one under another spelling than of letter case and trailing
        // dots and spaces (vfat stores ".morx$1." as ".morx$1").
        const auto key = [](std::string name) {
            while (!name.empty() && (name.back() == '.' || name.back() == ' '))
                name.pop_back();
            return AsciiLowered(std::move(name));
        };
        std::unordered_set<std::string> parked;
        for (std::string& name : names) {
            if (name.compare(0, prefix.size(), prefix) != 0) continue;
            parked.insert(key(name));
            candidates.insert(std::move(name));
        }
        const auto unlisted = [&](const std::string& name) {
            return name.compare(0, prefix.size(), prefix) == 0 &&
                   std::all_of(name.begin(), name.end(),
                               [](char c) { return static_cast<unsigned char>(c) < 0x80; }) &&
                   !parked.contains(key(name));
        };
        for (const std::string& name : candidates) {
            if (unlisted(name)) {
                here.Absent(name);
                continue;
            }
            const auto& entry = here.Look(name);
            if (entry.error != 0) return entry.error;
            if (entry.present) byInode.emplace(entry.identity.inode, &name);
        }
        return 0;
    }

    // On volumes whose inode numbers mean nothing now: each file is where
    // the order of the run's moves says it can be. A file that passes
    // through its parking name stands there, or at its new name after
    // "stage 1" and at its old name otherwise; any other file at its old or
    // its new name.
    template <typename Place>
    void LocateByNames(const JournalFolder& folder, FolderFiles& here,
                       const std::unordered_set<std::string>& claimed, const Place& place) {
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            const JournalFile& file = folder.files[f];
            std::vector<const std::string*> names;
            if (!file.parkName.empty()) {
                names = {&file.parkName, stage_ == 1 ? &file.newName : &file.oldName};
            } else {
                names = {&file.oldName, &file.newName};
            }
            for (const std::string* name : names) {
                if (!claimed.contains(*name) && here.Holds(*name, file, false)) {
                    place(f, *name);
                    break;
                }
            }
        }
    }

    // A rename on vfat writes the file's new folder entry and clears its old
    // one in separate sectors; a power cut between the two leaves both on
    // the disk, sharing the file's data, and fsck cuts the one it meets
    // second to 0 bytes, keeping its times. Such a twin is an empty file
    // under another name of a file found whole, with the file's recorded
    // modification time and birth time (to the hundredth of a second), made
    // before the run started; it goes. Without birth times, nothing tells it
    // from a file of the user's and it stays.
    void RemoveTwins(std::size_t g, FolderFiles& here,
                     const std::unordered_set<std::string>& claimed) {
        const JournalFolder& folder = record_.folders[g];
        const std::uint32_t first = firstItem_[g];
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            const RelocationItem& item = items_[first + f];
            const JournalFile& file = folder.files[f];
            const FileIdentity& recorded = file.identity;
            if (item.state == RelocationItem::State::kStuck || recorded.folder ||
                recorded.btimeSec == kNoBirthTime)
                continue;
            for (const std::string* name : {&file.oldName, &file.newName, &file.parkName}) {
                if (name->empty() || claimed.contains(*name)) continue;
                const FolderFiles::Entry& entry = here.Look(*name);
                const FileIdentity& now = entry.identity;
                if (!entry.present || entry.bornLater || now.folder || now.size != 0 ||
                    now.links != 1 || now.mtimeSec != recorded.mtimeSec ||
                    now.mtimeNsec != recorded.mtimeNsec || now.btimeSec != recorded.btimeSec ||
                    now.btimeNsec != recorded.btimeNsec)
                    continue;
                const std::string path = JoinPath(folder.path, *name);
                if (const int error = fs_.Unlink(path); error == 0) {
                    here.Forget(*name);
                } else if (error != ENOENT) {
                    leftNames_.push_back({originals_[first + f], path, error});
                }
            }
        }
    }

    // A power cut in the middle of a vfat rename can also leave neither of
    // the file's entries on the disk; fsck then keeps its data as
    // FSCKnnnn.REC in the root of the volume, grown to whole clusters, with
    // no name or times of the file's. A file of the run found under none of
    // its names is taken from such a file when its first bytes, as many as
    // the file had, give the file's recorded content print and what follows
    // is less than a cluster: the file is cut back to its size and time,
    // and goes home from there.
    void TakeBackFromVolumeCheck(std::size_t g) {
        const JournalFolder& folder = record_.folders[g];
        const std::uint32_t first = firstItem_[g];
        std::string root;
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            RelocationItem& item = items_[first + f];
            const JournalFile& file = folder.files[f];
            if (item.state != RelocationItem::State::kStuck || item.error != 0 || !file.print)
                continue;
            if (root.empty() && fs_.VolumeRoot(folder.path, root) != 0) return;
            for (const std::string& name : KeptByVolumeCheck(root)) {
                const std::string path = JoinPath(root == "/" ? std::string() : root, name);
                if (keptTaken_.contains(path) || !IsKeptData(path, file)) continue;
                const FileIdentity& id = file.identity;
                item.cur = store_.emplace_back(path);
                item.error = fs_.Trim(path, id.size, id.mtimeSec, id.mtimeNsec);
                if (item.error == 0) {
                    keptTaken_.insert(path);
                    item.state = RelocationItem::State::kPending;
                }
                break;
            }
        }
    }

    // The names fsck gives the data it keeps, in the root folder of a volume.
    const std::vector<std::string>& KeptByVolumeCheck(const std::string& root) {
        const auto [at, fresh] = keptNames_.try_emplace(root);
        if (fresh) {
            std::vector<std::string> names;
            if (fs_.ListNames(root, names) == 0) {
                for (std::string& name : names) {
                    if (IsVolumeCheckName(name)) at->second.push_back(std::move(name));
                }
            }
            std::sort(at->second.begin(), at->second.end());
        }
        return at->second;
    }

    static bool IsVolumeCheckName(std::string_view name) {
        if (name.size() != 12) return false;
        for (std::size_t i = 0; i < 12; ++i) {
            const char c = static_cast<char>(AsciiUpper(static_cast<unsigned char>(name[i])));
            const bool digit = c >= '0' && c <= '9';
            if ((i >= 4 && i < 8) ? !digit : c != "FSCK????.REC"[i]) return false;
        }
        return true;
    }

    // Whether the file at path holds the data of the recorded file.
    bool IsKeptData(const std::string& path, const JournalFile& file) {
        // The largest cluster of a FAT volume.
        constexpr std::uint64_t kMaxClusterBytes = 64 * 1024;
        FileIdentity now;
        const std::uint64_t size = file.identity.size;
        return fs_.Identify(path, now) == 0 && !now.folder && now.links == 1 && now.size >= size &&
               now.size - size < kMaxClusterBytes && ContentPrint(fs_, path, size) == file.print;
    }

    // Where a volume can neither rename without replacing nor link, a move
    // first reserves its target as an empty file (or folder); a run cut
    // between the two leaves it. An empty one made since the run started
    // under a name of the run, or a parking name, that holds none of its
    // files is one (a folder goes only while empty).
    void RemoveReservations(const JournalFolder& folder, FolderFiles& here,
                            const Candidates& candidates,
                            const std::unordered_set<std::string>& claimed) {
        for (const std::string& name : candidates) {
            if (claimed.contains(name)) continue;
            const FolderFiles::Entry& entry = here.Look(name);
            if (entry.present && entry.identity.mtimeSec >= record_.started &&
                (entry.identity.folder || (entry.identity.size == 0 && entry.identity.links == 1))) {
                const std::string path = JoinPath(folder.path, name);
                if (const int error = fs_.Unlink(path); error == 0) {
                    here.Forget(name);
                } else if (error != ENOENT) {
                    leftNames_.push_back({path, {}, error});  // the journal stays for it
                }
            }
        }
    }

    // Second names of files of folder g (a move by link cut short between
    // its two steps): another name of the run that is a link to the same
    // file, as the volume numbers its files now. Each goes before anything
    // moves, as it may stand where a file has to go.
    void RemoveSecondNames(std::size_t g, FolderFiles& here, const ByInode& byInode,
                           const std::unordered_set<std::string>& claimed) {
        const JournalFolder& folder = record_.folders[g];
        const std::uint32_t first = firstItem_[g];
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            const RelocationItem& item = items_[first + f];
            if (item.state == RelocationItem::State::kStuck) continue;
            const std::string at = item.state == RelocationItem::State::kArrived
                                       ? folder.files[f].oldName
                                       : NameOf(std::string(item.cur));
            const FolderFiles::Entry found = here.Look(at);
            if (found.identity.links < 2) continue;
            const auto [begin, end] = byInode.equal_range(found.identity.inode);
            for (auto it = begin; it != end; ++it) {
                if (claimed.contains(*it->second)) continue;
                const std::string extra = JoinPath(folder.path, *it->second);
                FileIdentity now;
                int error = fs_.Identify(extra, now);
                if (error == 0 && now.inode == found.identity.inode && now.links > 1)
                    error = fs_.Unlink(extra);
                if (error == 0) {
                    here.Forget(*it->second);
                } else if (error != ENOENT) {
                    // Kept, and so is the journal: the next start tries again.
                    leftNames_.push_back({originals_[first + f], extra, error});
                }
            }
        }
    }

    // On volumes that keep inode numbers: a file is found by its number under
    // any old or new name of its run (swapped names put a file under a name
    // of another), or a parking name.
    template <typename Place>
    void LocateByInode(const JournalFolder& folder, FolderFiles& here,
                       const std::unordered_multimap<std::uint64_t, const std::string*>& byInode,
                       std::unordered_set<std::string>& claimed, const Place& place) {
        // Files at home first: their names are settled.
        std::vector<bool> done(folder.files.size(), false);
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            const JournalFile& file = folder.files[f];
            if (here.Holds(file.oldName, file, true) && !claimed.contains(file.oldName)) {
                place(f, file.oldName);
                done[f] = true;
            }
        }
        for (std::size_t f = 0; f < folder.files.size(); ++f) {
            const JournalFile& file = folder.files[f];
            if (done[f]) continue;
            if (!claimed.contains(file.newName) && here.Holds(file.newName, file, true)) {
                place(f, file.newName);
                continue;
            }
            const auto [begin, end] = byInode.equal_range(file.identity.inode);
            for (auto it = begin; it != end; ++it) {
                if (!claimed.contains(*it->second) && here.Holds(*it->second, file, true)) {
                    place(f, *it->second);
                    break;
                }
            }
        }
    }

    void MoveHome(const std::vector<bool>& located) {
        SafeMover mover(fs_);
        bool useExchange = true;
        Relocator relocator(mover, useExchange, originals_, store_);
        relocator.CheckIdentities(identities_, stable_);
        // Parked files stood at their new names after "stage 1": they are
        // parked again, and go on to their old names only once the journal
        // says so, which it can once every folder with parked files is in.
        if (stage_ == 1) {
            bool allIn = true;
            for (std::size_t g = 0; g < record_.folders.size(); ++g) {
                for (const JournalFile& file : record_.folders[g].files)
                    allIn = allIn && (located[g] || file.parkName.empty());
            }
            for (std::uint32_t i = 0; i < items_.size(); ++i) {
                RelocationItem& item = items_[i];
                if (parkPaths_[i].empty() || item.state != RelocationItem::State::kPending ||
                    item.cur == parkPaths_[i]) {
                    continue;
                }
                const int error = relocator.Park(i, item.cur, parkPaths_[i]);
                if (error != 0) {
                    item.error = error;
                    item.state = RelocationItem::State::kStuck;
                    allIn = false;
                } else {
                    item.cur = parkPaths_[i];
                }
            }
            if (allIn && markStage_(2) == 0) stage_ = 2;
        }
        std::vector<std::uint32_t> heldBack;
        for (std::uint32_t i = 0; i < items_.size(); ++i) {
            if (stage_ == 1 && !parkPaths_[i].empty() &&
                items_[i].state == RelocationItem::State::kPending) {
                items_[i].state = RelocationItem::State::kStuck;
                heldBack.push_back(i);
            }
        }
        std::unordered_map<std::string_view, std::uint32_t> occupants;
        for (std::uint32_t i = 0; i < items_.size(); ++i) {
            if (!items_[i].cur.empty() && items_[i].state != RelocationItem::State::kArrived)
                occupants.emplace(items_[i].cur, i);
        }
        std::vector<std::uint32_t> standing(items_.size(), kNoItem);
        for (std::uint32_t i = 0; i < items_.size(); ++i) {
            if (items_[i].state != RelocationItem::State::kPending) continue;
            const auto found = occupants.find(items_[i].dst);
            if (found != occupants.end()) standing[i] = found->second;
        }
        // Where a volume may store another name than asked, each folder is
        // read once after the moves to find the old names, not once per move
        // (a pass over the whole folder each time). A file counts as
        // returned only once its name is found; one the volume altered stays
        // where it went, and the journal with it.
        mover.DeferStoredNameChecks(true);
        std::vector<bool> arrived(items_.size(), false);
        relocator.Run(items_, standing, false, [&](std::uint32_t i) { arrived[i] = true; });
        const auto notStored =
            mover.NamesNotStored(originals_, [&](std::size_t i) { return arrived[i]; });
        for (const std::size_t i : notStored) {
            RelocationItem& item = items_[i];
            arrived[i] = false;
            item.state = RelocationItem::State::kStuck;
            item.error = EINVAL;
            item.cur = {};
        }
        result_.returned +=
            static_cast<std::size_t>(std::count(arrived.begin(), arrived.end(), true));
        for (const std::uint32_t i : heldBack)
            items_[i].state = RelocationItem::State::kPending;
    }

    const JournalRecord& record_;
    FileSystem& fs_;
    const StageMarker& markStage_;
    int stage_;
    RecoveredRun result_;
    std::vector<RelocationItem> items_;
    std::vector<std::string> originals_;  // old path per item
    std::vector<FileIdentity> identities_;
    std::vector<std::uint8_t> stable_;
    std::vector<std::string> parkPaths_;  // per item; empty when it moves directly
    std::vector<std::uint32_t> firstItem_;  // per folder
    std::vector<UniqueFd> locks_;
    std::unordered_map<std::uint64_t, std::string> volumes_;  // identities by device
    std::deque<std::string> store_;
    // Names the run left (second names, reservations) that could not be removed.
    std::vector<UnreturnedFile> leftNames_;
    // Per volume root, the names fsck gave data it kept; and those taken.
    std::unordered_map<std::string, std::vector<std::string>> keptNames_;
    std::unordered_set<std::string> keptTaken_;
};

// Reads a whole journal from an open descriptor into text: 0, or an errno
// value when reading failed, with problem set instead when what was read
// cannot be a journal.
int ReadJournalText(FileSystem& fs, int fd, std::string& text, std::string& problem) {
    FileIdentity self;
    if (const int error = fs.IdentifyOpen(fd, self); error != 0) return error;
    if (self.size > kMaxJournalBytes) {
        problem = "the record is too large to be a journal of this program";
        return 0;
    }
    text.resize(static_cast<std::size_t>(self.size));
    const int error = fs.ReadAll(fd, text);
    if (error == ENODATA) problem = "the record is cut short";
    return error == ENODATA ? 0 : error;
}

// 0 while the file open on fd is still at path, ENOENT once it is gone from
// there, or another errno value when that cannot be told.
int CheckStillNamed(FileSystem& fs, int fd, const std::string& path) {
    FileIdentity open, named;
    if (const int error = fs.IdentifyOpen(fd, open); error != 0) return error;
    if (open.links == 0) return ENOENT;
    if (const int error = fs.Identify(path, named); error != 0) return error;
    return open.device == named.device && open.inode == named.inode ? 0 : ENOENT;
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
void RemoveAbandonedUnfinished(FileSystem& fs, const std::string& path, std::string_view name) {
    FileIdentity self;
    if (fs.Identify(path, self) != 0 || self.folder) return;
    const pid_t writer = WriterOf(name);
    const bool writerGone = writer > 0 && kill(writer, 0) != 0 && errno == ESRCH;
    if (!writerGone && std::time(nullptr) - self.mtimeSec < kStaleUnfinishedSeconds) return;
    UniqueFd fd;
    if (fs.OpenFile(path, false, fd) != 0) return;
    if (fs.LockFile(fd.Get()) == 0 && CheckStillNamed(fs, fd.Get(), path) == 0) fs.Unlink(path);
}

}  // namespace

RecoveredRun RollBackRun(const JournalRecord& record, FileSystem& fs,
                         const StageMarker& markStage) {
    return RunRestorer(record, fs, markStage).Restore();
}

bool RecoveryReport::Complete() const {
    return folderError == 0 && std::all_of(runs.begin(), runs.end(),
                       [](const RecoveredRun& run) { return run.Complete(); });
}

RecoveryReport RecoverInterruptedRuns(const std::string& folder, FileSystem& fs) {
    RecoveryReport report;
    std::vector<std::string> names;
    if (const int error = fs.ListNames(folder, names); error != 0) {
        if (error != ENOENT) report.folderError = error;  // else no journals kept yet
        return report;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = folder + '/' + name;
        if (EndsWith(name, kUnfinishedJournalSuffix)) {
            RemoveAbandonedUnfinished(fs, path, name);
            continue;
        }
        if (!EndsWith(name, kJournalSuffix)) continue;
        // A journal that cannot be looked at now stays for the next start.
        const auto cannotAccess = [&](int error) {
            RecoveredRun& run = report.runs.emplace_back();
            run.journalPath = path;
            run.accessError = error;
        };
        UniqueFd fd;
        if (const int error = fs.OpenFile(path, false, fd); error != 0) {
            if (error != ENOENT) cannotAccess(error);
            continue;
        }
        // The lock is held for as long as the run's process lives.
        if (const int error = fs.LockFile(fd.Get()); error != 0) {
            error == EWOULDBLOCK ? report.liveRuns.push_back(path) : cannotAccess(error);
            continue;
        }
        if (const int error = CheckStillNamed(fs, fd.Get(), path); error != 0) {
            if (error != ENOENT) cannotAccess(error);  // else the run finished while we looked
            continue;
        }
        std::string text, problem;
        RecoveredRun run;
        if (const int error = ReadJournalText(fs, fd.Get(), text, problem); error != 0) {
            cannotAccess(error);
            continue;
        }
        if (problem.empty()) {
            auto parsed = ParseJournal(text);
            if (auto* record = std::get_if<JournalRecord>(&parsed); record && record->finished) {
                // Its run ended well; only the record's removal did not.
                if (fs.Unlink(path) == 0) SyncFolder(fs, folder);
                continue;
            } else if (record) {
                std::size_t size = text.size();
                run = RollBackRun(*record, fs, [&](int stage) {
                    // The parking moves the mark speaks of reach the disk
                    // first: after a power cut, parked files are looked for
                    // only where the last durable mark says they stand.
                    int error = SyncRunFolders(fs, *record);
                    if (error == 0) error = AppendStageLine(fs, fd.Get(), size, stage);
                    if (error == 0) size += 8;
                    return error;
                });
                // Until the names are on disk, the journal is still needed
                // (the next start then finds every file home).
                bool flushed = run.Complete();
                FolderFlushes flushes(fs);
                for (const JournalFolder& runFolder : record->folders)
                    flushed = flushed && flushes.Flush(runFolder.path, runFolder.volume) == 0;
                if (flushed && fs.Unlink(path) == 0) SyncFolder(fs, folder);
            } else {
                run.damage = std::get<std::string>(parsed);
            }
        } else {
            run.damage = problem;
        }
        run.journalPath = path;
        report.runs.push_back(std::move(run));
    }
    return report;
}

}  // namespace morix
