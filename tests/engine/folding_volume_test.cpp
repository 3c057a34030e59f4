// The rename run on a volume that folds letter case, as vfat, exfat, ntfs3 and
// casefolded ext4 do: a model kept in memory that answers like those volumes,
// including their traps (a plain rename that changes only the case reports
// success and does nothing; a trailing dot is dropped).
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/rename_run.h"
#include "engine/text.h"

namespace morix {
namespace {

class FoldingVolume final : public FileSystem {
  public:
    bool flagSupported = true;       // RENAME_NOREPLACE known (kernel driver) or not (FUSE)
    bool linksSupported = true;      // ntfs yes, exfat no
    bool dropsTrailingDots = false;  // vfat, exfat
    bool listsLowerCase = false;     // lowntfs-3g -o ignore_case lists every name in lower case
    long failAt = 0;                 // fail this call (1-based) with EIO
    long calls = 0;
    long listings = 0;

    void Add(const std::string& path) { entries_[Key(path)] = Entry{Stored(path), path, ++files_}; }

    // Stored name -> content (the path the file had when added).
    std::map<std::string, std::string> Listing() const {
        std::map<std::string, std::string> listing;
        for (const auto& [key, entry] : entries_) {
            listing[entry.stored] = entry.content;
        }
        return listing;
    }

    int Lstat(const std::string& path) override {
        if (Fails()) {
            return EIO;
        }
        return entries_.contains(Key(path)) ? 0 : ENOENT;
    }

    int Rename(const std::string& from, const std::string& to, RenameMode mode) override {
        if (Fails()) {
            return EIO;
        }
        if (mode == RenameMode::kExchange || (mode == RenameMode::kNoReplace && !flagSupported)) {
            return EINVAL;
        }
        const auto source = entries_.find(Key(from));
        if (source == entries_.end()) {
            return ENOENT;
        }
        const std::string target = Key(to);
        if (entries_.contains(target)) {
            if (mode == RenameMode::kNoReplace) {
                return EEXIST;
            }
            if (target == source->first) {
                return 0;  // reports success, keeps the old spelling
            }
            entries_.erase(target);
        }
        Entry moved = source->second;
        entries_.erase(source);
        moved.stored = Stored(to);
        entries_[target] = moved;
        return 0;
    }

    int Link(const std::string& from, const std::string& to) override {
        if (Fails()) {
            return EIO;
        }
        if (!linksSupported) {
            return EPERM;
        }
        const auto source = entries_.find(Key(from));
        if (source == entries_.end()) {
            return ENOENT;
        }
        if (entries_.contains(Key(to))) {
            return EEXIST;
        }
        entries_[Key(to)] = Entry{Stored(to), source->second.content, source->second.id};
        return 0;
    }

    int Unlink(const std::string& path) override {
        if (Fails()) {
            return EIO;
        }
        return entries_.erase(Key(path)) == 1 ? 0 : ENOENT;
    }

    int Identify(const std::string& path, FileIdentity& identity) override {
        if (Fails()) {
            return EIO;
        }
        const auto entry = entries_.find(Key(path));
        if (entry == entries_.end()) {
            return ENOENT;
        }
        identity = FileIdentity{};
        identity.inode = entry->second.id;
        identity.size = entry->second.content.size();
        return 0;
    }

    int Reserve(const std::string& path, bool, FileIdentity& identity) override {
        if (Fails()) {
            return EIO;
        }
        if (entries_.contains(Key(path))) {
            return EEXIST;
        }
        entries_[Key(path)] = Entry{Stored(path), "", ++files_};
        identity = FileIdentity{};
        identity.inode = files_;
        return 0;
    }

    int LockFolder(const std::string&, bool, UniqueFd&) override { return Fails() ? EIO : 0; }

    int ListNames(const std::string& folder, std::vector<std::string>& names) override {
        if (Fails()) {
            return EIO;
        }
        ++listings;
        names.clear();
        const std::string prefix = Fold(folder) + "/";
        for (const auto& [key, entry] : entries_) {
            if (key.starts_with(prefix) && key.find('/', prefix.size()) == std::string::npos) {
                names.push_back(listsLowerCase ? Fold(entry.stored) : entry.stored);
            }
        }
        return 0;
    }

    bool KeepsExactNames(const std::string&) override {
        Fails();
        return false;
    }

    bool KeepsInodeNumbers(const std::string&) override {
        Fails();
        return false;
    }
    // The run's journal is kept on the real disk beside this volume.
    static RealFileSystem& Disk() {
        static RealFileSystem disk;
        return disk;
    }
    int OpenFolder(const std::string& folder, UniqueFd& fd) override {
        return Disk().OpenFolder(folder, fd);
    }
    int OpenFile(const std::string& path, bool create, UniqueFd& fd) override {
        return Disk().OpenFile(path, create, fd);
    }
    int LockFile(int fd) override { return Disk().LockFile(fd); }
    int WriteAt(int fd, std::string_view data, std::uint64_t offset) override {
        return Disk().WriteAt(fd, data, offset);
    }
    int ReadAll(int fd, std::string& text) override { return Disk().ReadAll(fd, text); }
    int Sync(int fd, bool dataOnly) override { return Disk().Sync(fd, dataOnly); }
    bool SyncFlushesVolume(int fd) override { return Disk().SyncFlushesVolume(fd); }
    int IdentifyOpen(int fd, FileIdentity& identity) override {
        return Disk().IdentifyOpen(fd, identity);
    }
    int UnlinkAt(int folderFd, const std::string& name) override {
        return Disk().UnlinkAt(folderFd, name);
    }
    int VolumeOf(const std::string& folder, std::string& volume) override {
        return Disk().VolumeOf(folder, volume);
    }
    int VolumeRoot(const std::string& folder, std::string& root) override {
        return Disk().VolumeRoot(folder, root);
    }
    int ReadAt(const std::string& path, std::initializer_list<FilePart> parts) override {
        return Disk().ReadAt(path, parts);
    }
    int Trim(const std::string& path, std::uint64_t size, std::int64_t mtimeSec,
             std::uint32_t mtimeNsec) override {
        return Disk().Trim(path, size, mtimeSec, mtimeNsec);
    }

  private:
    struct Entry {
        std::string stored;  // the name as the volume keeps it
        std::string content;
        std::uint64_t id = 0;  // shared by links
    };

    bool Fails() { return ++calls == failAt; }

    static std::string Fold(std::string s) {
        for (char& c : s) {
            c = static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
        }
        return s;
    }
    std::string Strip(std::string path) const {
        while (dropsTrailingDots && !path.empty() && path.back() == '.') {
            path.pop_back();
        }
        return path;
    }
    std::string Key(const std::string& path) const { return Fold(Strip(path)); }
    std::string Stored(const std::string& path) const {
        const std::string stripped = Strip(path);
        return stripped.substr(stripped.rfind('/') + 1);
    }

    std::map<std::string, Entry> entries_;
    std::uint64_t files_ = 0;
};

struct Kind {
    const char* name;
    bool flagSupported;
    bool linksSupported;
    bool dropsTrailingDots;
    bool listsLowerCase;
};

const Kind kKinds[] = {
    {"CasefoldedExt4", true, true, false, false}, {"Vfat", true, false, true, false},
    {"Ntfs3g", false, true, false, false},        {"LowNtfs3gIgnoreCase", false, true, false, true},
    {"ExfatFuse", false, false, true, false},
};

using Listing = std::map<std::string, std::string>;

RenameJobs Jobs(const std::vector<std::pair<std::string, std::string>>& renames) {
    RenameJobs jobs;
    for (const auto& [from, to] : renames) jobs.Add("/v/" + from, "/v/" + to);
    return jobs;
}

RenameOutcome RunOn(FoldingVolume& volume, RenameJobs& jobs) {
    RenameProgress progress;
    progress.Begin(static_cast<int>(jobs.size()));
    return RunRenameJobs(jobs, progress, volume);
}

FoldingVolume Volume(const Kind& kind, const std::vector<std::string>& files) {
    FoldingVolume volume;
    volume.flagSupported = kind.flagSupported;
    volume.linksSupported = kind.linksSupported;
    volume.dropsTrailingDots = kind.dropsTrailingDots;
    volume.listsLowerCase = kind.listsLowerCase;
    for (const std::string& name : files) {
        volume.Add("/v/" + name);
    }
    return volume;
}

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

class FoldingVolumeRun : public ::testing::TestWithParam<Kind> {};

TEST_P(FoldingVolumeRun, ChangeOfCaseOnlyReallyChangesTheStoredName) {
    FoldingVolume volume = Volume(GetParam(), {"a.txt", "photo.JPG", "other"});
    auto jobs = Jobs({{"a.txt", "A.txt"}, {"photo.JPG", "Photo.jpg"}, {"other", "other"}});
    ASSERT_EQ(RunOn(volume, jobs), RenameOutcome::kRenamed);
    EXPECT_EQ(
        volume.Listing(),
        (Listing{{"A.txt", "/v/a.txt"}, {"Photo.jpg", "/v/photo.JPG"}, {"other", "/v/other"}}));
}

TEST_P(FoldingVolumeRun, NeverReplacesAFileThatDiffersOnlyInCase) {
    FoldingVolume volume = Volume(GetParam(), {"a.txt", "b.txt"});
    const Listing before = volume.Listing();
    auto jobs = Jobs({{"b.txt", "A.TXT"}});
    EXPECT_EQ(RunOn(volume, jobs), RenameOutcome::kTargetExists);
    EXPECT_EQ(volume.Listing(), before);
    // Identity is exact: another spelling of a listed file counts as taken
    // too, even when that file moves away in the same run.
    jobs = Jobs({{"a.txt", "c.txt"}, {"b.txt", "A.TXT"}});
    EXPECT_EQ(RunOn(volume, jobs), RenameOutcome::kTargetExists);
    EXPECT_EQ(volume.Listing(), before);
}

TEST_P(FoldingVolumeRun, SwapsAndRotationsThroughParkedNames) {
    FoldingVolume volume = Volume(GetParam(), {"a.txt", "b.txt", "x", "y", "z"});
    auto jobs = Jobs({{"a.txt", "b.txt"}, {"b.txt", "a.txt"}, {"x", "y"}, {"y", "z"}, {"z", "x"}});
    ASSERT_EQ(RunOn(volume, jobs), RenameOutcome::kRenamed);
    EXPECT_EQ(volume.Listing(), (Listing{{"a.txt", "/v/b.txt"},
                                         {"b.txt", "/v/a.txt"},
                                         {"x", "/v/z"},
                                         {"y", "/v/x"},
                                         {"z", "/v/y"}}));
}

TEST_P(FoldingVolumeRun, ANameTheVolumeCannotKeepRollsTheRunBack) {
    FoldingVolume volume = Volume(GetParam(), {"a", "b"});
    const Listing before = volume.Listing();
    auto jobs = Jobs({{"a", "c"}, {"b", "name."}});
    const RenameOutcome outcome = RunOn(volume, jobs);
    if (GetParam().dropsTrailingDots) {
        EXPECT_EQ(outcome, RenameOutcome::kRolledBack);
        EXPECT_EQ(volume.Listing(), before);
        EXPECT_EQ(jobs[1].error, EINVAL);
    } else {
        EXPECT_EQ(outcome, RenameOutcome::kRenamed);
        EXPECT_EQ(volume.Listing(), (Listing{{"c", "/v/a"}, {"name.", "/v/b"}}));
    }
}

// A folder is read to see the names it stored once its files have moved,
// not after each move: on a memory card a run would otherwise read the
// whole folder once per file.
TEST_P(FoldingVolumeRun, NamesAreLookedForOncePerFolderNotOncePerMove) {
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> renames;
    for (int i = 0; i < 200; ++i) {
        files.push_back("IMG_" + std::to_string(i) + ".JPG");
        renames.emplace_back(files.back(), "trip_" + std::to_string(i) + ".jpg");
    }
    FoldingVolume volume = Volume(GetParam(), files);
    auto jobs = Jobs(renames);
    ASSERT_EQ(RunOn(volume, jobs), RenameOutcome::kRenamed);
    EXPECT_EQ(volume.Listing().size(), 200u);
    EXPECT_TRUE(volume.Listing().contains("trip_7.jpg"));
    EXPECT_LE(volume.listings, 3);
}

TEST_P(FoldingVolumeRun, AnySingleFailingCallLeavesEverythingOrNothingRenamed) {
    const std::vector<std::string> files = {"a.txt", "b.txt", "c", "d"};
    const std::vector<std::pair<std::string, std::string>> renames = {
        {"a.txt", "b.txt"}, {"b.txt", "a.txt"}, {"c", "C"}, {"d", "e"}};
    const Listing renamed = {
        {"a.txt", "/v/b.txt"}, {"b.txt", "/v/a.txt"}, {"C", "/v/c"}, {"e", "/v/d"}};
    long total = 0;
    {
        FoldingVolume volume = Volume(GetParam(), files);
        auto jobs = Jobs(renames);
        ASSERT_EQ(RunOn(volume, jobs), RenameOutcome::kRenamed);
        EXPECT_EQ(volume.Listing(), renamed);
        total = volume.calls;
    }
    for (long k = 1; k <= total; ++k) {
        SCOPED_TRACE("failing call " + std::to_string(k));
        FoldingVolume volume = Volume(GetParam(), files);
        const Listing before = volume.Listing();
        volume.failAt = k;
        auto jobs = Jobs(renames);
        if (RunOn(volume, jobs) == RenameOutcome::kRenamed) {
            EXPECT_EQ(volume.Listing(), renamed);
        } else {
            EXPECT_EQ(volume.Listing(), before);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FoldingVolumeRun, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morix
