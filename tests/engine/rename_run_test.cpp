// The rename run on real folders, over file systems that behave like the
// volumes Linux meets (no no-replace flag, no hard links, names that need a
// check after the move), and with every single call of a run made to fail.
#include "engine/rename_run.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/file_system.h"
#include "engine/preview.h"
#include "engine/run_recovery.h"
#include "engine/safe_move.h"
#include "engine/text.h"
#include "support/journals.h"
#include "support/temp_dir.h"
#include "support/test_file_system.h"

namespace morix {
namespace {

using testing::TempDir;
using testing::TestFileSystem;

// The kinds of volume the suite runs over.
struct Volume {
    const char* name;
    bool useExchange;
    bool noReplaceUnsupported;
    bool linksRefused;
    bool namesUnchecked;
};

const Volume kVolumes[] = {
    {"Native", true, false, false, false},
    {"Parking", false, false, false, false},
    {"NoFlagWithLinks", false, true, false, true},
    {"NoFlagNoLinks", false, true, true, true},
};

using Listing = std::map<std::string, std::string>;  // name -> content

// A folder of files whose contents are their original names, and the jobs of
// one run over them.
struct Scenario {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> renames;
    RenameOutcome expected;
    std::vector<std::string> folders = {};  // made before the files
};

std::vector<std::string> Numbered(const char* prefix, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%d", prefix, i);
        names.emplace_back(name);
    }
    return names;
}

std::vector<Scenario> SmallScenarios() {
    return {
        {"Unchanged",
         {"a.txt", "b.txt"},
         {{"a.txt", "a.txt"}, {"b.txt", "b.txt"}},
         RenameOutcome::kRenamed},
        {"CaseOnly",
         {"a.txt", "b.txt"},
         {{"a.txt", "A.txt"}, {"b.txt", "b.TXT"}},
         RenameOutcome::kRenamed},
        {"Swap",
         {"a.txt", "b.txt"},
         {{"a.txt", "b.txt"}, {"b.txt", "a.txt"}},
         RenameOutcome::kRenamed},
        {"Rotation3",
         {"a", "b.jpg", "c.png"},
         {{"a", "b.jpg"}, {"b.jpg", "c.png"}, {"c.png", "a"}},
         RenameOutcome::kRenamed},
        {"Chain",
         {"f1", "f2", "f3"},
         {{"f1", "f2"}, {"f2", "f3"}, {"f3", "f4"}},
         RenameOutcome::kRenamed},
        {"Mixture",
         {"a", "b", "c", "d", "e", "x", "\xff\xfe.bin"},
         {{"a", "b"},
          {"b", "a"},
          {"c", "d"},
          {"d", "e"},
          {"e", "new"},
          {"x", "x"},
          {"\xff\xfe.bin", "c"}},
         RenameOutcome::kRenamed},
        {"CaseSwap",
         {"a.txt", "A.txt"},
         {{"a.txt", "A.txt"}, {"A.txt", "a.txt"}},
         RenameOutcome::kRenamed},
        {"ForeignFileAtTarget",
         {"a", "b", "taken"},
         {{"a", "b"}, {"b", "taken"}},
         RenameOutcome::kTargetExists},
        {"FolderAtTarget",
         {"a", "b"},
         {{"a", "c"}, {"b", "dir"}},
         RenameOutcome::kTargetExists,
         {"dir"}},
        {"OtherFileDifferingInCase",
         {"a.txt", "b.txt", "B.txt"},
         {{"a.txt", "c.txt"}, {"b.txt", "B.txt"}},
         RenameOutcome::kTargetExists},
        {"TwoFilesOneName", {"a", "b"}, {{"a", "c"}, {"b", "c"}}, RenameOutcome::kRolledBack},
        // A run that can never finish moves nothing: a target held by a file
        // of the run that keeps its name, and two files bound for the name
        // that one file of the run frees.
        {"TargetKeptByItsFile",
         {"a", "b", "c"},
         {{"a", "x"}, {"b", "c"}, {"c", "c"}},
         RenameOutcome::kRolledBack},
        {"TwoFilesOneFreedName",
         {"a", "b", "c"},
         {{"a", "x"}, {"b", "a"}, {"c", "a"}},
         RenameOutcome::kRolledBack},
        {"TwoFolders",
         {"one/a", "one/b", "two/a", "two/b", "top"},
         {{"one/a", "one/b"},
          {"two/a", "two/c"},
          {"one/b", "one/a"},
          {"top", "a"},
          {"two/b", "two/a"}},
         RenameOutcome::kRenamed,
         {"one", "two"}},
    };
}

Scenario BigRotation() {
    Scenario big{"Rotation1000", Numbered("r", 1000), {}, RenameOutcome::kRenamed};
    for (int i = 0; i < 1000; ++i) {
        big.renames.emplace_back(big.files[i], big.files[(i + 1) % 1000]);
    }
    return big;
}

// Enough targets in one folder to check them against its entries as they
// are read. Of a target taken by a foreign file and a target two files share,
// the one met first in job order decides.
enum class ManyTargets { kFree, kOneTaken, kTwoShareOne, kTakenThenShared, kSharedThenTaken };

Scenario ManyTargetsIn(ManyTargets kind) {
    const char* names[] = {"ManyFreeTargets", "ManyFreeTargetsOneTaken", "ManyFreeTargetsTwoForOne",
                           "ManyTargetsTakenThenShared", "ManyTargetsSharedThenTaken"};
    Scenario s{names[static_cast<int>(kind)], Numbered("f", 100), {}, RenameOutcome::kRenamed};
    for (int i = 0; i < 100; ++i) {
        std::string target = s.files[i];
        target[0] = 'g';
        s.renames.emplace_back(s.files[i], target);
    }
    const auto takeAt = [&](int job) { s.files.push_back(s.renames[job].second); };
    const auto shareAt = [&](int job) { s.renames[job].second = s.renames[job - 1].second; };
    switch (kind) {
        case ManyTargets::kFree:
            break;
        case ManyTargets::kOneTaken:
            takeAt(57);
            s.expected = RenameOutcome::kTargetExists;
            break;
        case ManyTargets::kTwoShareOne:
            shareAt(58);
            s.expected = RenameOutcome::kRolledBack;
            break;
        case ManyTargets::kTakenThenShared:
            takeAt(20);
            shareAt(80);
            s.expected = RenameOutcome::kTargetExists;
            break;
        case ManyTargets::kSharedThenTaken:
            shareAt(20);
            takeAt(80);
            s.expected = RenameOutcome::kRolledBack;
            break;
    }
    return s;
}

std::vector<Scenario> Scenarios() {
    std::vector<Scenario> list = SmallScenarios();
    list.push_back(BigRotation());
    for (const ManyTargets kind :
         {ManyTargets::kFree, ManyTargets::kOneTaken, ManyTargets::kTwoShareOne,
          ManyTargets::kTakenThenShared, ManyTargets::kSharedThenTaken}) {
        list.push_back(ManyTargetsIn(kind));
    }
    return list;
}

void PrintTo(const Volume& volume, std::ostream* os) {
    *os << volume.name;
}
void PrintTo(const Scenario& s, std::ostream* os) {
    *os << s.name;
}

Listing ReadListing(const TempDir& dir) {
    Listing listing;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.bytes())) {
        const std::string name = entry.path().lexically_relative(dir.bytes()).string();
        listing[name] = entry.is_directory() ? "<dir>" : TempDir::Read(entry.path().string());
    }
    return listing;
}

Listing Populate(const TempDir& dir, const Scenario& s) {
    for (const std::string& folder : s.folders) {
        dir.MakeFolder(folder);
    }
    for (const std::string& name : s.files) {
        std::ofstream(dir.Path(name), std::ios::binary) << name;
    }
    return ReadListing(dir);
}

RenameJobs Jobs(const TempDir& dir, const Scenario& s) {
    RenameJobs jobs;
    for (const auto& [from, to] : s.renames) {
        jobs.Add(dir.Path(from), dir.Path(to));
    }
    return jobs;
}

// The folder after a complete run: every file under its new name.
Listing Renamed(const Listing& before, const Scenario& s) {
    Listing after = before;
    for (const auto& [from, to] : s.renames) {
        after.erase(from);
    }
    for (const auto& [from, to] : s.renames) {
        after[to] = before.at(from);
    }
    return after;
}

struct RunResult {
    RenameOutcome outcome;
    std::vector<int> positions;  // progress position at every call
    int remaining;
    bool finished;
};

RunResult RunOn(RenameJobs& jobs, TestFileSystem& fs, const Volume& volume,
                RunJournal* journal = nullptr) {
    fs.noReplaceUnsupported = volume.noReplaceUnsupported;
    fs.linksRefused = volume.linksRefused;
    fs.namesUnchecked = volume.namesUnchecked;
    RenameProgress progress;
    progress.Begin(static_cast<int>(jobs.size()));
    RunResult result{};
    fs.onCall = [&] { result.positions.push_back(progress.GetPos()); };
    result.outcome =
        RunRenameJobs(jobs, progress, fs, RenameRunSettings{volume.useExchange, journal});
    fs.onCall = nullptr;
    result.positions.push_back(progress.GetPos());
    result.remaining = progress.Remaining();
    result.finished = progress.IsFinished();
    EXPECT_EQ(progress.TargetExists(), result.outcome == RenameOutcome::kTargetExists);
    return result;
}

void ExpectNeverDecreases(const std::vector<int>& positions) {
    for (std::size_t i = 1; i < positions.size(); ++i) {
        ASSERT_LE(positions[i - 1], positions[i]) << "at call " << i;
    }
}

class RenameRunSuite : public ::testing::TestWithParam<std::tuple<Volume, Scenario>> {};

TEST_P(RenameRunSuite, EndsWithEveryFileRenamedOrNoneMoved) {
    const auto& [volume, s] = GetParam();
    TempDir dir;
    const Listing before = Populate(dir, s);
    RenameJobs jobs = Jobs(dir, s);
    const RenameJobs asked = jobs;
    TestFileSystem fs;
    const RunResult r = RunOn(jobs, fs, volume);
    ASSERT_EQ(r.outcome, s.expected);
    EXPECT_TRUE(r.finished);
    ExpectNeverDecreases(r.positions);
    // Whatever the outcome, every job still names its file's two paths.
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        EXPECT_EQ(jobs[j].oldPath, asked[j].oldPath);
        EXPECT_EQ(jobs[j].newPath, asked[j].newPath);
    }
    if (s.expected == RenameOutcome::kRenamed) {
        EXPECT_EQ(ReadListing(dir), Renamed(before, s));
        EXPECT_EQ(r.remaining, 0);
        EXPECT_EQ(r.positions.back(), static_cast<int>(jobs.size()));
        for (const RenameJob& job : jobs) {
            EXPECT_TRUE(job.done);
            EXPECT_TRUE(job.tempPath.empty());
        }
    } else {
        EXPECT_EQ(ReadListing(dir), before);
        EXPECT_GT(r.remaining, 0);
        EXPECT_EQ(fs.renames, 0) << "nothing may be moved";
    }
    if (std::string(s.name) == "Unchanged") {
        EXPECT_EQ(fs.renames, 0);
    }
}

// The number of file-system calls an undisturbed run of the scenario makes.
long CallsOfARun(const Volume& volume, const Scenario& s) {
    TempDir dir;
    Populate(dir, s);
    RenameJobs jobs = Jobs(dir, s);
    TestFileSystem fs;
    RunOn(jobs, fs, volume);
    return fs.calls;
}

// The same for a run that keeps its journal through the same file system.
long CallsOfAJournaledRun(const Volume& volume, const Scenario& s) {
    TempDir dir(TempDir::InMemory()), journals(TempDir::InMemory());
    Populate(dir, s);
    RenameJobs jobs = Jobs(dir, s);
    TestFileSystem fs;
    RunJournal journal(journals.bytes(), fs);
    RunOn(jobs, fs, volume, &journal);
    return fs.calls;
}

// Fails the k-th call of a journaled run for every k, with a failing disk
// (EIO) and a full one (ENOSPC): the run either still completes correctly,
// or every file is back under its old name and no parked file remains. A
// single failure never hits the roll-back itself; where it hits the
// journal's end, what stays of the journal touches nothing at the next
// start.
class FailingCall : public RenameRunSuite {};

TEST_P(FailingCall, LeavesEverythingOrNothingRenamed) {
    const auto& [volume, s] = GetParam();
    const long total = CallsOfAJournaledRun(volume, s);
    RecordProperty("failed calls", static_cast<int>(2 * total));
    for (const int error : {EIO, ENOSPC}) {
        for (long k = 1; k <= total; ++k) {
            SCOPED_TRACE("failing call " + std::to_string(k) + " of " + std::to_string(total) +
                         " with " + std::strerror(error));
            TempDir dir(TempDir::InMemory()), journals(TempDir::InMemory());
            const Listing before = Populate(dir, s);
            RenameJobs jobs = Jobs(dir, s);
            TestFileSystem fs;
            fs.failAt = k;
            fs.failWith = error;
            RunResult r;
            bool unfinished = false;
            {
                RunJournal journal(journals.bytes(), fs);
                r = RunOn(jobs, fs, volume, &journal);
                unfinished = journal.Unfinished();
            }
            ExpectNeverDecreases(r.positions);
            EXPECT_TRUE(r.finished);
            const Listing after = ReadListing(dir);
            if (r.outcome == RenameOutcome::kRenamed) {
                EXPECT_EQ(after, Renamed(before, s));
                EXPECT_EQ(r.remaining, 0);
            } else {
                EXPECT_EQ(after, before);
                EXPECT_GT(r.remaining, 0);
                for (const RenameJob& job : jobs) {
                    EXPECT_FALSE(job.done && job.oldPath != job.newPath);
                    EXPECT_TRUE(job.tempPath.empty());
                }
            }
            // Only names that may not have reached the disk keep the journal
            // of a run that ended: the next start then puts every file back.
            RealFileSystem real;
            EXPECT_TRUE(RecoverInterruptedRuns(journals.bytes(), real).Complete());
            EXPECT_EQ(ReadListing(dir), unfinished ? before : after);
            EXPECT_EQ(journals.CountEnding(kJournalSuffix), 0u);
        }
    }
}

// Thrown by the file system at a chosen call: the process ends there.
struct Cut {};

// The contents of a folder, whatever their names (a file may be under two
// names while a move by link is cut short between its steps). Empty files
// are left out: a move cut short after reserving its target leaves one.
std::set<std::string> Contents(const Listing& listing) {
    std::set<std::string> contents;
    for (const auto& [name, content] : listing)
        if (!content.empty()) contents.insert(content);
    return contents;
}

// A run cut short at a third, half and two thirds of its calls, then put
// back by a recovery whose k-th call fails (EIO or ENOSPC), for every k:
// nothing is lost, the journal stays while any file is away from home, and
// the next recovery brings every file home.
class FailingRecoveryCall : public RenameRunSuite {};

TEST_P(FailingRecoveryCall, KeepsTheJournalUntilEveryFileIsHome) {
    const auto& [volume, s] = GetParam();
    const long total = CallsOfAJournaledRun(volume, s);
    int interrupted = 0, failedCalls = 0;
    for (const long cutAt : {total / 3, total / 2, 2 * total / 3}) {
        for (const int error : {EIO, ENOSPC}) {
            for (long k = 1;; ++k) {
                SCOPED_TRACE("cut at call " + std::to_string(cutAt) + ", recovery failing call " +
                             std::to_string(k) + " with " + std::strerror(error));
                TempDir dir(TempDir::InMemory()), journals(TempDir::InMemory());
                const Listing before = Populate(dir, s);
                RenameJobs jobs = Jobs(dir, s);
                TestFileSystem fs;
                fs.noReplaceUnsupported = volume.noReplaceUnsupported;
                fs.linksRefused = volume.linksRefused;
                fs.namesUnchecked = volume.namesUnchecked;
                {
                    fs.onCall = [&] {
                        if (fs.calls + 1 == cutAt) throw Cut{};
                    };
                    RunJournal journal(journals.bytes(), fs);
                    RenameProgress progress;
                    progress.Begin(static_cast<int>(jobs.size()));
                    try {
                        RunRenameJobs(jobs, progress, fs,
                                      RenameRunSettings{volume.useExchange, &journal});
                    } catch (const Cut&) {
                    }
                }
                if (journals.CountEnding(kJournalSuffix) == 0) break;  // cut before the journal
                // Cut after its finish mark, the run has ended: nothing goes back.
                const Listing home = testing::AJournalIsMarkedFinished(journals.bytes())
                                         ? Renamed(before, s)
                                         : before;
                fs.onCall = nullptr;
                fs.calls = 0;
                fs.failAt = k;
                fs.failWith = error;
                const RecoveryReport report = RecoverInterruptedRuns(journals.bytes(), fs);
                const Listing now = ReadListing(dir);
                EXPECT_EQ(Contents(now), Contents(before)) << "a file was lost";
                if (report.Complete()) {
                    EXPECT_EQ(now, home);
                } else {
                    ++interrupted;
                    EXPECT_EQ(journals.CountEnding(kJournalSuffix), 1u)
                        << "files are away from home and no journal says where";
                }
                RealFileSystem real;
                EXPECT_TRUE(RecoverInterruptedRuns(journals.bytes(), real).Complete());
                EXPECT_EQ(ReadListing(dir), home);
                EXPECT_EQ(journals.CountEnding(kJournalSuffix), 0u);
                if (fs.calls < k) break;  // the recovery ended before the failing call
                ++failedCalls;
            }
        }
    }
    RecordProperty("interrupted", interrupted);
    RecordProperty("failed calls", failedCalls);
}

// Fails two calls in a row, for every starting call, with the journal kept
// (its own calls fail too): a failure during the roll-back may leave a file
// on the way. Then the journal stays, and recovery brings every such file
// home.
class TwoFailingCalls : public RenameRunSuite {};

TEST_P(TwoFailingCalls, AFileLeftOnTheWayIsBroughtHomeFromTheJournal) {
    const auto& [volume, s] = GetParam();
    const long total = CallsOfARun(volume, s);
    int stranded = 0;
    for (long k = 1; k <= total; ++k) {
        SCOPED_TRACE("failing calls " + std::to_string(k) + " and " + std::to_string(k + 1));
        TempDir dir(TempDir::InMemory()), journals(TempDir::InMemory());
        const Listing before = Populate(dir, s);
        RenameJobs jobs = Jobs(dir, s);
        TestFileSystem fs;
        fs.failAt = k;
        bool moved = false, journalSeen = false;
        fs.beforeRename = [&](const std::string& to) {
            if (to.starts_with(journals.bytes())) return;  // the journal's own commit
            moved = true;
            journalSeen = journalSeen || journals.CountEnding(kJournalSuffix) == 1;
        };
        RenameOutcome outcome;
        bool unfinished = false;
        {
            RunJournal journal(journals.bytes(), fs);
            fs.onCall = [&] {
                if (fs.calls == k) fs.failAt = k + 1;  // the call after the first failure fails too
            };
            RenameProgress progress;
            progress.Begin(static_cast<int>(jobs.size()));
            fs.noReplaceUnsupported = volume.noReplaceUnsupported;
            fs.linksRefused = volume.linksRefused;
            fs.namesUnchecked = volume.namesUnchecked;
            outcome =
                RunRenameJobs(jobs, progress, fs, RenameRunSettings{volume.useExchange, &journal});
            unfinished = journal.Unfinished();
        }  // the process ends
        if (moved) {
            EXPECT_TRUE(journalSeen) << "a file moved before the journal was on disk";
        }
        const Listing after = ReadListing(dir);
        if (outcome == RenameOutcome::kRenamed) {
            EXPECT_EQ(after, Renamed(before, s));
        }
        if (after != before && outcome != RenameOutcome::kRenamed) {
            ++stranded;
            ASSERT_TRUE(unfinished) << "files are on the way and no journal says where";
        }
        // Whatever journal is left, the next start settles: one the run
        // reported unfinished is rolled back, one marked finished goes and
        // touches nothing. Only a journal cut short while being written
        // (nothing moved yet) waits for its writer, this process, to end.
        RealFileSystem real;
        EXPECT_TRUE(RecoverInterruptedRuns(journals.bytes(), real).Complete());
        EXPECT_EQ(ReadListing(dir), unfinished ? before : after);
        EXPECT_EQ(journals.CountEnding(kJournalSuffix), 0u);
    }
    RecordProperty("stranded", stranded);
}

// On a volume that does not keep inode numbers, a rotation's files go to
// their parking names, the journal says "stage 1", and they go on. Cut then,
// recovery parks the arrived ones again and says "stage 2" before they go
// home: that mark must not reach the disk before the moves it speaks of.
TEST(RecoveryStages, TheMarkOfParkedFilesFollowsTheFlushOfTheirFolders) {
    const Scenario rotation{"Rotation3",
                            {"a", "b", "c"},
                            {{"a", "b"}, {"b", "c"}, {"c", "a"}},
                            RenameOutcome::kRenamed};
    TempDir dir(TempDir::InMemory()), journals(TempDir::InMemory());
    const Listing before = Populate(dir, rotation);
    RenameJobs jobs = Jobs(dir, rotation);
    TestFileSystem fs;
    fs.inodesUnstable = true;
    {
        bool arrived = false;
        fs.beforeRename = [&](const std::string& to) {
            arrived = arrived || to == dir.Path("b") || to == dir.Path("c") || to == dir.Path("a");
        };
        fs.onCall = [&] {
            if (arrived) throw Cut{};
        };
        RunJournal journal(journals.bytes(), fs);
        RenameProgress progress;
        progress.Begin(3);
        try {
            RunRenameJobs(jobs, progress, fs, RenameRunSettings{false, &journal});
        } catch (const Cut&) {
        }
    }
    const auto stage = [&] {
        for (const auto& entry : std::filesystem::directory_iterator(journals.bytes())) {
            const auto parsed = ParseJournal(TempDir::Read(entry.path().string()));
            if (const auto* record = std::get_if<JournalRecord>(&parsed)) return record->stage;
        }
        return -1;
    };
    ASSERT_EQ(stage(), 1);
    fs.onCall = nullptr;
    fs.beforeRename = nullptr;
    fs.folderSyncFails = true;
    EXPECT_FALSE(RecoverInterruptedRuns(journals.bytes(), fs).Complete());
    EXPECT_EQ(stage(), 1) << "marked before the parking moves were on disk";
    EXPECT_EQ(Contents(ReadListing(dir)), Contents(before)) << "a file was lost";
    RealFileSystem real;
    EXPECT_TRUE(RecoverInterruptedRuns(journals.bytes(), real).Complete());
    EXPECT_EQ(ReadListing(dir), before);
}

std::string ParamName(const ::testing::TestParamInfo<RenameRunSuite::ParamType>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Volumes, RenameRunSuite,
                         ::testing::Combine(::testing::ValuesIn(kVolumes),
                                            ::testing::ValuesIn(Scenarios())),
                         ParamName);
INSTANTIATE_TEST_SUITE_P(Volumes, FailingCall,
                         ::testing::Combine(::testing::ValuesIn(kVolumes),
                                            ::testing::ValuesIn(SmallScenarios())),
                         ParamName);
INSTANTIATE_TEST_SUITE_P(Volumes, FailingRecoveryCall,
                         ::testing::Combine(::testing::ValuesIn(kVolumes),
                                            ::testing::ValuesIn(SmallScenarios())),
                         ParamName);
INSTANTIATE_TEST_SUITE_P(Volumes, TwoFailingCalls,
                         ::testing::Combine(::testing::ValuesIn(kVolumes),
                                            ::testing::ValuesIn(SmallScenarios())),
                         ParamName);

// Makes a file unmovable for real. Needs root and a volume that knows the
// attribute (tmpfs, ext4); cleared again in any case.
class ImmutableFile {
  public:
    explicit ImmutableFile(std::string path) : path_(std::move(path)) { ok_ = Set(true); }
    ~ImmutableFile() {
        if (ok_) {
            Set(false);
        }
    }
    bool ok() const { return ok_; }

  private:
    bool Set(bool on) {
        const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        close(fd);
        return done;
    }
    std::string path_;
    bool ok_ = false;
};

class UnmovableFile : public ::testing::TestWithParam<Volume> {};

TEST_P(UnmovableFile, OneOfFiveLockedPutsEveryFileBack) {
    const Volume& volume = GetParam();
    const Scenario cases[] = {
        {"Rotation",
         {"a", "b", "c", "d", "e"},
         {{"a", "b"}, {"b", "c"}, {"c", "d"}, {"d", "e"}, {"e", "a"}},
         RenameOutcome::kRolledBack},
        {"Chain",
         {"a", "b", "c", "d", "e"},
         {{"a", "b"}, {"b", "c"}, {"c", "d"}, {"d", "e"}, {"e", "f"}},
         RenameOutcome::kRolledBack},
        {"Free",
         {"a", "b", "c", "d", "e"},
         {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}},
         RenameOutcome::kRolledBack},
    };
    for (const char* base : {"/tmp", "/dev/shm"}) {
        for (const Scenario& s : cases) {
            for (int locked = 0; locked < 5; ++locked) {
                SCOPED_TRACE(std::string(base) + " " + s.name + " locked " + s.files[locked]);
                TempDir dir(base);
                const Listing before = Populate(dir, s);
                ImmutableFile lock(dir.Path(s.files[locked]));
                if (!lock.ok()) {
                    GTEST_SKIP() << "cannot set the immutable attribute in " << base
                                 << " (needs root and tmpfs or ext4)";
                }
                RenameJobs jobs = Jobs(dir, s);
                TestFileSystem fs;
                const RunResult r = RunOn(jobs, fs, volume);
                EXPECT_EQ(r.outcome, RenameOutcome::kRolledBack);
                EXPECT_GT(r.remaining, 0);
                ExpectNeverDecreases(r.positions);
                EXPECT_EQ(ReadListing(dir), before);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, UnmovableFile, ::testing::ValuesIn(kVolumes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RenameRunRaces, AFileAppearingAtATargetDuringTheRunIsNeverReplaced) {
    TempDir dir;
    for (const char* name : {"a", "b", "c"}) {
        std::ofstream(dir.Path(name)) << name;
    }
    RenameJobs jobs;
    jobs.Add(dir.Path("a"), dir.Path("x"));
    jobs.Add(dir.Path("b"), dir.Path("y"));
    jobs.Add(dir.Path("c"), dir.Path("z"));
    TestFileSystem fs;
    RenameProgress progress;
    progress.Begin(3);
    // After the check for foreign files and one move, someone else creates
    // the target of the next move.
    std::string planted;
    fs.beforeRename = [&](const std::string& to) {
        if (fs.renames == 2) {
            const int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(write(fd, "foreign", 7), 7);
            close(fd);
            planted = NameOf(to);
        }
    };
    EXPECT_EQ(RunRenameJobs(jobs, progress, fs), RenameOutcome::kRolledBack);
    ASSERT_FALSE(planted.empty());
    EXPECT_EQ(ReadListing(dir),
              (Listing{{"a", "a"}, {"b", "b"}, {"c", "c"}, {planted, "foreign"}}));
}

// Long runs look at their files from another thread, ahead of the moves:
// every shape of run still ends renamed, and a file replaced by another well
// ahead of the moves is caught before it would move.
struct AheadShape {
    const char* name;
    bool useExchange;
    int (*target)(int i, int count);  // the number file i goes to; -1: a free name
    int late;                         // a file among the last to move
};

const AheadShape kAheadShapes[] = {
    {"FreeTargets", true, [](int, int) { return -1; }, 997},
    {"Chain", true, [](int i, int) { return i + 1; }, 2},
    {"RotationBySwaps", true, [](int i, int count) { return (i + 1) % count; }, 997},
    {"RotationByParking", false, [](int i, int count) { return (i + 1) % count; }, 2},
    {"PairsBySwaps", true, [](int i, int count) { return count - 1 - i; }, 497},
};

class RunCheckedAhead : public ::testing::TestWithParam<AheadShape> {
  protected:
    static constexpr int kCount = 1000;

    static Scenario Make() {
        const std::vector<std::string> names = Numbered("n", kCount + 1);
        Scenario s{GetParam().name,
                   {names.begin(), names.begin() + kCount},
                   {},
                   RenameOutcome::kRenamed};
        for (int i = 0; i < kCount; ++i) {
            const int to = GetParam().target(i, kCount);
            s.renames.emplace_back(names[i], to < 0 ? "free" + names[i] : names[to]);
        }
        return s;
    }
};

TEST_P(RunCheckedAhead, RenamesEveryFileWithTheLooksTakenElsewhere) {
    const Scenario s = Make();
    long calls[2] = {};
    for (const bool ahead : {false, true}) {
        TempDir dir(TempDir::InMemory());
        const Listing before = Populate(dir, s);
        RenameJobs jobs = Jobs(dir, s);
        TestFileSystem fs;
        fs.checksAhead = ahead;
        RenameProgress progress;
        progress.Begin(kCount);
        ASSERT_EQ(RunRenameJobs(jobs, progress, fs, RenameRunSettings{GetParam().useExchange}),
                  RenameOutcome::kRenamed);
        EXPECT_EQ(ReadListing(dir), Renamed(before, s));
        calls[ahead] = fs.calls;
    }
    // Nearly every look before a move went to the other thread.
    EXPECT_LT(calls[true], calls[false] - kCount * 9 / 10);
}

TEST_P(RunCheckedAhead, AFileReplacedFarAheadOfTheMovesStaysWhereItIs) {
    TempDir dir(TempDir::InMemory());
    const Scenario s = Make();
    const Listing before = Populate(dir, s);
    RenameJobs jobs = Jobs(dir, s);
    TestFileSystem fs;
    fs.checksAhead = true;
    // After a few moves, another program puts a file of its own in the place
    // of one of the run's files that is still far from its turn.
    const std::string victim = s.files[GetParam().late];
    fs.beforeRename = [&](const std::string&) {
        if (fs.renames == 4) {
            std::ofstream(dir.Path("intruder")) << "intruder";
            ASSERT_EQ(std::rename(dir.Path("intruder").c_str(), dir.Path(victim).c_str()), 0);
        }
    };
    RenameProgress progress;
    progress.Begin(kCount);
    ASSERT_EQ(RunRenameJobs(jobs, progress, fs, RenameRunSettings{GetParam().useExchange}),
              RenameOutcome::kRolledBack);
    Listing expected = before;
    expected[victim] = "intruder";
    EXPECT_EQ(ReadListing(dir), expected);
    int refused = 0;
    for (const RenameJob& job : jobs) refused += job.error == kNotThePlannedFile ? 1 : 0;
    EXPECT_EQ(refused, 1);
}

// A volume that turns out to swap no names makes a rotation leave the order
// the looks were planned in: the rest is looked at in line, and every file
// still arrives.
TEST(RunCheckedAheadOutOfOrder, ARotationWhoseSwapsFailStillRenamesEveryFile) {
    TempDir dir(TempDir::InMemory());
    Scenario s = BigRotation();
    const Listing before = Populate(dir, s);
    RenameJobs jobs = Jobs(dir, s);
    TestFileSystem fs;
    fs.checksAhead = true;
    fs.noReplaceUnsupported = true;  // the first swap fails with EINVAL
    RenameProgress progress;
    progress.Begin(static_cast<int>(jobs.size()));
    ASSERT_EQ(RunRenameJobs(jobs, progress, fs, RenameRunSettings{true}),
              RenameOutcome::kRenamed);
    EXPECT_EQ(ReadListing(dir), Renamed(before, s));
}

INSTANTIATE_TEST_SUITE_P(Shapes, RunCheckedAhead, ::testing::ValuesIn(kAheadShapes),
                         [](const auto& info) { return std::string(info.param.name); });

// A caller that has just looked at every file (an undo) hands the run what
// it found: the run looks at no file a second time before the moves, and
// still moves only files that match what the caller found.
TEST(RenameRunKnownSources, MovesOnlyTheFilesTheCallerFound) {
    const Scenario rotation{"Rotation3",
                            {"a", "b", "c"},
                            {{"a", "b"}, {"b", "c"}, {"c", "a"}},
                            RenameOutcome::kRenamed};
    const auto run = [&](bool handOver, bool mixUp, Listing& before, Listing& after,
                         RenameJobs& jobs) {
        TempDir dir(TempDir::InMemory());
        before = Populate(dir, rotation);
        jobs = Jobs(dir, rotation);
        RenameRunSettings settings{false};
        if (handOver) {
            RealFileSystem real;
            for (const RenameJob& job : jobs) {
                FileIdentity found;
                EXPECT_EQ(real.Identify(std::string(job.oldPath), found), 0);
                settings.sourceIdentities.push_back(found);
            }
            // The caller took c for b.
            if (mixUp) settings.sourceIdentities[1] = settings.sourceIdentities[2];
        }
        TestFileSystem fs;
        RenameProgress progress;
        progress.Begin(3);
        const RenameOutcome outcome = RunRenameJobs(jobs, progress, fs, settings);
        after = ReadListing(dir);
        return std::pair(outcome, fs.calls);
    };
    Listing before, after;
    RenameJobs jobs;
    const auto [lookedItself, ownCalls] = run(false, false, before, after, jobs);
    ASSERT_EQ(lookedItself, RenameOutcome::kRenamed);
    const auto [handedOver, fewerCalls] = run(true, false, before, after, jobs);
    ASSERT_EQ(handedOver, RenameOutcome::kRenamed);
    EXPECT_EQ(after, Renamed(before, rotation));
    EXPECT_EQ(fewerCalls, ownCalls - 3);

    const auto [mixedUp, calls] = run(true, true, before, after, jobs);
    (void)calls;
    EXPECT_EQ(mixedUp, RenameOutcome::kRolledBack);
    EXPECT_EQ(after, before);
    EXPECT_EQ(jobs[1].error, kNotThePlannedFile);
}

TEST(RenameRunWorker, RunsOnAThreadWithProgressThatNeverGoesDown) {
    TempDir dir;
    const Scenario s = BigRotation();
    const Listing before = Populate(dir, s);
    TestFileSystem fs;
    RenameRun run(Jobs(dir, s), fs, RenameRunSettings{false});
    EXPECT_EQ(run.Progress().GetMin(), 0);
    EXPECT_FALSE(run.Progress().CanCancel());
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(run.Progress().GetMax(), 1000);
    int last = 0;
    bool finished = false;
    while (!finished) {
        finished = run.Progress().IsFinished();  // read before the position
        const int pos = run.Progress().GetPos();
        ASSERT_GE(pos, last);
        ASSERT_LE(pos, 1000);
        last = pos;
    }
    EXPECT_EQ(last, 1000);
    ASSERT_TRUE(run.Join());
    EXPECT_EQ(run.Outcome(), RenameOutcome::kRenamed);
    EXPECT_EQ(ReadListing(dir), Renamed(before, s));
}

TEST(RenameRunJobs, BuiltFromTheRowsAsThePreviewComputesThem) {
    TempDir dir;
    RenameList list;
    for (const char* name : {"b.jpg", "a.jpg", "c.png"}) {
        list.AddItem(DecodeFileName(dir.MakeFile(name)));
    }
    RenameOptions options;
    options.nameTemplate = u"pic#";
    NameRegistry registry;
    const std::vector<std::uint32_t> rows = {2, 0, 1};
    const RenameJobs jobs = BuildRenameJobs(list, rows, options, registry);
    NameRegistry previewRegistry;
    const auto names = ComputeNewNames(list, rows, options, previewRegistry);
    ASSERT_EQ(jobs.size(), 3u);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(jobs[r].oldPath, EncodeFileName(list.ItemAt(rows[r]).Whole()));
        EXPECT_EQ(jobs[r].newPath, dir.bytes() + "/" + EncodeFileName(names[r]));
        EXPECT_FALSE(jobs[r].done);
        EXPECT_TRUE(jobs[r].tempPath.empty());
    }
    EXPECT_EQ(jobs[0].newPath, dir.Path("pic1.png"));
}

}  // namespace
}  // namespace morix
