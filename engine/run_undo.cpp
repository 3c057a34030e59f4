#include "engine/run_undo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/safe_move.h"
#include "engine/text.h"

namespace morix {
namespace {

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + '/' + name;
}

std::string FoldCase(std::string path) {
    for (char& c : path) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return path;
}

// Every name a run gave up or took, and the folders it renamed (under both
// names), compared without regard to ASCII case as a volume may.
struct Footprint {
    std::unordered_set<std::string> names;
    std::vector<std::string> folders;

    explicit Footprint(const JournalRecord& record) {
        const auto renamed = RenamedFolders(record);
        for (const JournalFolder& folder : record.folders) {
            const std::string now = PathAfterRenames(folder.path, renamed);
            for (const JournalFile& file : folder.files) {
                std::string before = FoldCase(JoinPath(folder.path, file.oldName));
                std::string after = FoldCase(JoinPath(now, file.newName));
                if (file.identity.folder) {
                    folders.push_back(before);
                    folders.push_back(after);
                }
                names.insert(std::move(before));
                names.insert(std::move(after));
            }
        }
    }

    // Whether a name of other is one of these names or lies inside a
    // folder of this run.
    bool Meets(const Footprint& other) const {
        for (const std::string& name : other.names) {
            if (names.contains(name)) return true;
            for (const std::string& folder : folders) {
                if (name.size() > folder.size() && name.compare(0, folder.size(), folder) == 0 &&
                    name[folder.size()] == '/')
                    return true;
            }
        }
        return false;
    }
};

// Whether the folder, where the run left it, is on the run's volume still.
int CheckFolder(FileSystem& fs, const JournalFolder& folder, const std::string& now) {
    UniqueFd fd;
    if (const int error = fs.OpenFolder(now, fd); error != 0) return error;
    if (folder.volume.empty()) {
        FileIdentity self;
        if (const int error = fs.IdentifyOpen(fd.Get(), self); error != 0) return error;
        return self.device == folder.device ? 0 : kOtherVolume;
    }
    std::string volume;
    if (const int error = fs.VolumeOf(now, volume); error != 0) return error;
    return volume == folder.volume ? 0 : kOtherVolume;
}

ChangedFile::Change ChangeOf(int error) {
    return error == ENOENT || error == ENOTDIR ? ChangedFile::Change::kGone
                                               : ChangedFile::Change::kUnreadable;
}

}  // namespace

std::string DescribeChange(const ChangedFile& changed) {
    using Change = ChangedFile::Change;
    switch (changed.change) {
        case Change::kGone:
            return changed.path + ": no longer there (renamed, moved or deleted since the run)";
        case Change::kReplaced:
            return changed.path + ": another file has taken this name since the run";
        case Change::kOldNameTaken:
            return changed.path + ": the old name is taken by a file that is not part of the run";
        case Change::kOtherVolume:
            return changed.path + ": another volume is mounted here now";
        case Change::kUnreadable:
            break;
    }
    return changed.path + ": " + std::strerror(changed.error);
}

UndoPlan PlanUndo(const JournalRecord& record, FileSystem& fs) {
    UndoPlan plan;
    const auto renamed = RenamedFolders(record);
    struct Entry {
        const JournalFile* file;
        bool stableInodes;
    };
    std::vector<Entry> entries;
    // Each file from where the run left it back to its old name.
    RenameJobs& jobs = plan.jobs;
    for (const JournalFolder& folder : record.folders) {
        const std::string now = PathAfterRenames(folder.path, renamed);
        if (const int error = CheckFolder(fs, folder, now); error != 0) {
            plan.changed.push_back(
                {now.empty() ? "/" : now,
                 error == kOtherVolume ? ChangedFile::Change::kOtherVolume : ChangeOf(error),
                 error});
            continue;
        }
        for (const JournalFile& file : folder.files) {
            entries.push_back({&file, folder.stableInodes});
            jobs.Add(JoinPath(now, file.newName), JoinPath(now, file.oldName));
        }
    }
    const std::size_t count = entries.size();
    const std::vector<std::string_view>& nowPaths = jobs.OldPaths();
    const std::vector<std::string_view>& oldPaths = jobs.NewPaths();
    std::vector<FileIdentity> ids;
    std::vector<int> errors;
    fs.IdentifyAll(nowPaths, ids, errors);
    // The files of this undo that are where the run left them: by their
    // names, by the number the volume gives them at this moment, and on
    // volumes whose numbers mean nothing by their names folded in case.
    using Number = std::pair<std::uint64_t, std::uint64_t>;
    std::vector<Number> ours;
    std::unordered_map<std::string, std::size_t> ourNames;
    std::unordered_set<std::string_view> ourExactNames;
    ourExactNames.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (errors[i] != 0) {
            plan.changed.push_back({std::string(nowPaths[i]), ChangeOf(errors[i]), errors[i]});
            continue;
        }
        FileIdentity now = ids[i];
        const FileIdentity& expected = entries[i].file->identity;
        now.device = expected.device;  // the folder's volume was checked above
        if (!SameFile(expected, now, entries[i].stableInodes)) {
            plan.changed.push_back({std::string(nowPaths[i]), ChangedFile::Change::kReplaced, 0});
            continue;
        }
        ourExactNames.insert(nowPaths[i]);
        if (entries[i].stableInodes) {
            ours.emplace_back(ids[i].device, ids[i].inode);
        } else {
            ourNames.emplace(FoldCase(std::string(nowPaths[i])), i);
        }
    }
    std::sort(ours.begin(), ours.end());
    // An old name that is the name of a file of this undo, found where the
    // run left it, is held by that file (chains, swaps, rotations): only the
    // others are looked at.
    std::vector<std::string_view> paths(count);
    for (std::size_t i = 0; i < count; ++i)
        paths[i] = ourExactNames.contains(oldPaths[i]) ? std::string_view() : oldPaths[i];
    std::vector<FileIdentity> oldIds;
    std::vector<int> oldErrors;
    fs.IdentifyAll(paths, oldIds, oldErrors);
    // Else an old name is free, or it holds a file of this undo: by number
    // where numbers hold, or under another spelling of its name with its
    // size and time (a volume that folds case but numbers each spelling
    // anew).
    const auto heldByOurs = [&](std::size_t i) {
        const FileIdentity& found = oldIds[i];
        if (std::binary_search(ours.begin(), ours.end(), Number{found.device, found.inode}))
            return true;
        const auto named = ourNames.find(FoldCase(std::string(oldPaths[i])));
        return named != ourNames.end() && SameFile(ids[named->second], found, false);
    };
    for (std::size_t i = 0; i < count; ++i) {
        const int error = oldErrors[i];
        if (paths[i].empty() || error == ENOENT) continue;
        if (error != 0) {
            plan.changed.push_back(
                {std::string(oldPaths[i]), ChangedFile::Change::kUnreadable, error});
        } else if (!heldByOurs(i)) {
            plan.changed.push_back(
                {std::string(oldPaths[i]), ChangedFile::Change::kOldNameTaken, 0});
        }
    }
    if (!plan.changed.empty()) {
        jobs = RenameJobs();
        return plan;
    }
    plan.found = std::move(ids);
    return plan;
}

bool TouchesSameFiles(const JournalRecord& older, const JournalRecord& newer) {
    const Footprint a(older), b(newer);
    return a.Meets(b) || b.Meets(a);
}

std::vector<std::string> RunFolders(const JournalRecord& record) {
    std::vector<std::string> folders;
    std::unordered_set<std::string> seen;
    for (const JournalFolder& folder : record.folders) {
        const std::string path = folder.path.empty() ? "/" : folder.path;
        if (seen.insert(path).second) folders.push_back(path);
    }
    return folders;
}

}  // namespace morix
