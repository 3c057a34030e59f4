// Completed runs kept for undo, and the undo itself: which runs are kept,
// what an undo checks before it moves anything, and that it brings every
// file home through swaps, rotations, chains, case changes and renamed
// folders, on volumes that keep inode numbers and on volumes that do not.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "engine/rename_run.h"
#include "engine/run_history.h"
#include "engine/run_journal.h"
#include "engine/run_undo.h"
#include "engine/text.h"
#include "support/temp_dir.h"
#include "support/test_file_system.h"

namespace morix {
namespace {

using testing::TempDir;
using testing::TestFileSystem;

using Listing = std::map<std::string, std::string>;  // relative path -> content ("/" for folders)
using Renames = std::vector<std::pair<std::string, std::string>>;  // relative old -> new

Listing Read(const std::string& folder) {
    Listing listing;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(entry.path(), folder).string();
        listing[name] = entry.is_directory() ? "/" : TempDir::Read(entry.path().string());
    }
    return listing;
}

void Make(const std::string& folder, const Listing& listing) {
    for (const auto& [name, content] : listing) {
        if (content == "/") {
            std::filesystem::create_directories(folder + "/" + name);
        } else {
            std::ofstream(folder + "/" + name, std::ios::binary) << content;
        }
    }
}

class History : public ::testing::Test {
  protected:
    // Runs renames in files_ with a journal whose complete run is kept.
    RenameOutcome Run(const Renames& renames) {
        RenameJobs jobs;
        for (const auto& [from, to] : renames) jobs.Add(files_.Path(from), files_.Path(to));
        RunJournal journal(journals_.bytes(), fs_);
        journal.KeepWhenComplete([&](const std::string& path) {
            return KeepRunRecord(fs_, journals_.bytes(), path, keepError_);
        });
        RenameProgress progress;
        progress.Begin(static_cast<int>(jobs.size()));
        const RenameOutcome outcome = RunRenameJobs(jobs, progress, fs_, {true, &journal});
        lastKept_ = journal.KeptPath();
        return outcome;
    }

    std::vector<KeptRun> Kept() {
        std::vector<KeptRun> runs;
        EXPECT_EQ(ListKeptRuns(fs_, journals_.bytes(), runs), 0);
        return runs;
    }

    JournalRecord Record(const KeptRun& run) {
        auto parsed = ReadKeptRun(fs_, run);
        if (const auto* problem = std::get_if<std::string>(&parsed)) {
            ADD_FAILURE() << *problem;
            return {};
        }
        return std::get<JournalRecord>(parsed);
    }

    // Undoes the newest kept run as the program does: plan, then a run of
    // its own (which keeps nothing). The plan's refusals, if any.
    std::vector<ChangedFile> Undo(RenameOutcome* outcome = nullptr) {
        KeptRun newest = Kept().at(0);
        UndoPlan plan = PlanUndo(Record(newest), fs_);
        if (!plan.changed.empty()) return plan.changed;
        RunJournal journal(journals_.bytes(), fs_);
        RenameProgress progress;
        progress.Begin(static_cast<int>(plan.jobs.size()));
        const RenameOutcome result = RunRenameJobs(plan.jobs, progress, fs_, {true, &journal});
        if (outcome != nullptr) *outcome = result;
        EXPECT_EQ(result, RenameOutcome::kRenamed);
        EXPECT_EQ(MarkUndone(fs_, journals_.bytes(), newest), 0);
        return {};
    }

    TempDir files_;
    TempDir journals_;
    TestFileSystem fs_;
    OsError keepError_;
    std::string lastKept_;
};

TEST_F(History, CompleteRunsAreKeptPrivatelyNewestFirstAndOnlyTheLastTwenty) {
    Make(files_.bytes(), {{"a", "A"}});
    for (int k = 0; k < 22; ++k)
        ASSERT_EQ(Run({k % 2 == 0 ? std::pair{"a", "b"} : std::pair{"b", "a"}}),
                  RenameOutcome::kRenamed);
    const std::vector<KeptRun> runs = Kept();
    ASSERT_EQ(runs.size(), kKeptRuns);
    EXPECT_EQ(runs.front().id, 22u);
    EXPECT_EQ(runs.back().id, 3u);
    EXPECT_EQ(lastKept_, runs.front().path);
    struct stat st;
    ASSERT_EQ(::stat(runs.front().path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The record is the run's journal, marked finished; no journal is left
    // for recovery to find.
    const JournalRecord record = Record(runs.front());
    EXPECT_TRUE(record.finished);
    ASSERT_EQ(record.FileCount(), 1u);
    EXPECT_EQ(record.folders[0].files[0].oldName, "b");
    EXPECT_EQ(journals_.CountEnding(std::string(kJournalSuffix)), 0u);
}

TEST_F(History, RunsThatDoNotEndRenamedKeepNothing) {
    Make(files_.bytes(), {{"a", "A"}, {"b", "B"}, {"taken", "T"}});
    // Refused: a target is held by a file outside the run.
    EXPECT_EQ(Run({{"a", "taken"}}), RenameOutcome::kTargetExists);
    // Rolled back: another process takes the second target just before
    // the move.
    fs_.beforeRename = [&](const std::string& to) {
        if (to.ends_with("/d")) std::ofstream(to) << "D";
    };
    EXPECT_EQ(Run({{"a", "c"}, {"b", "d"}}), RenameOutcome::kRolledBack);
    fs_.beforeRename = nullptr;
    // Nothing to move.
    EXPECT_EQ(Run({{"a", "a"}}), RenameOutcome::kRenamed);
    EXPECT_TRUE(Kept().empty());
    EXPECT_EQ(Read(files_.bytes()), (Listing{{"a", "A"}, {"b", "B"}, {"d", "D"}, {"taken", "T"}}));
}

TEST_F(History, ARecordThatCannotBeKeptLeavesTheRunRenamedAndNoJournal) {
    Make(files_.bytes(), {{"a", "A"}});
    // The keeper looks for the records in a folder that is not there.
    RenameJobs jobs;
    jobs.Add(files_.Path("a"), files_.Path("b"));
    RunJournal journal(journals_.bytes(), fs_);
    OsError error;
    journal.KeepWhenComplete([&](const std::string& path) {
        return KeepRunRecord(fs_, journals_.bytes() + "/missing", path, error);
    });
    RenameProgress progress;
    progress.Begin(1);
    EXPECT_EQ(RunRenameJobs(jobs, progress, fs_, {true, &journal}), RenameOutcome::kRenamed);
    EXPECT_TRUE(error.Failed());
    EXPECT_TRUE(journal.KeptPath().empty());
    EXPECT_FALSE(journal.Unfinished());
    EXPECT_TRUE(std::filesystem::is_empty(journals_.bytes()));
    EXPECT_EQ(Read(files_.bytes()), (Listing{{"b", "A"}}));
}

TEST_F(History, ADamagedRecordIsReportedAndNeverRead) {
    Make(files_.bytes(), {{"a", "A"}});
    ASSERT_EQ(Run({{"a", "b"}}), RenameOutcome::kRenamed);
    const KeptRun run = Kept().at(0);
    std::string text = TempDir::Read(run.path);
    text[text.find("\n") + 2] ^= 1;  // one bit of the record's heading
    std::ofstream(run.path, std::ios::binary | std::ios::trunc) << text;
    const auto parsed = ReadKeptRun(fs_, run);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    // Not marked finished: a journal moved here by hand is no record either.
    std::ofstream(run.path, std::ios::binary | std::ios::trunc)
        << FormatJournal(JournalRecord{1, 2, {}, 0, false});
    EXPECT_EQ(std::get<std::string>(ReadKeptRun(fs_, run)), "the record is not marked finished");
}

// What runs of several shapes leave, and that undo brings back exactly what
// was there before, on a volume that keeps inode numbers and on one that
// numbers its files anew after the run (as FUSE volumes do on a remount).
struct Shape {
    const char* name;
    Listing before;
    Renames renames;
};

const Shape kShapes[] = {
    // Sizes differ: where inode numbers mean nothing, size and time tell
    // the files apart.
    {"chain", {{"a", "1"}, {"b", "22"}, {"c", "333"}}, {{"a", "b"}, {"b", "c"}, {"c", "d"}}},
    {"swap", {{"a", "1"}, {"b", "22"}}, {{"a", "b"}, {"b", "a"}}},
    {"rotation", {{"a", "1"}, {"b", "22"}, {"c", "333"}}, {{"a", "b"}, {"b", "c"}, {"c", "a"}}},
    {"case only",
     {{"photo.jpg", "1"}, {"Notes.TXT", "22"}},
     {{"photo.jpg", "PHOTO.JPG"}, {"Notes.TXT", "notes.txt"}}},
    {"folder and its file",
     {{"dir1", "/"}, {"dir1/n1", "1"}, {"dir1/keep", "22"}, {"x", "333"}},
     {{"dir1", "dir2"}, {"dir1/n1", "dir1/n2"}, {"x", "y"}}},
};

class UndoShapes : public History, public ::testing::WithParamInterface<std::tuple<Shape, bool>> {};

TEST_P(UndoShapes, EveryFileGoesBackToItsOldName) {
    const auto& [shape, renumbered] = GetParam();
    fs_.inodesUnstable = renumbered;
    Make(files_.bytes(), shape.before);
    ASSERT_EQ(Run(shape.renames), RenameOutcome::kRenamed);
    ASSERT_NE(Read(files_.bytes()), shape.before);
    if (renumbered) fs_.inodeShift = 1000;
    EXPECT_TRUE(Undo().empty());
    EXPECT_EQ(Read(files_.bytes()), shape.before);
    const std::vector<KeptRun> runs = Kept();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].undone);
    // Twice: the record says so, and its files are not where the run left
    // them any more.
    EXPECT_FALSE(PlanUndo(Record(runs[0]), fs_).changed.empty());
}

INSTANTIATE_TEST_SUITE_P(Runs, UndoShapes,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Bool()),
                         [](const auto& info) {
                             std::string name =
                                 std::string(std::get<0>(info.param).name) +
                                 (std::get<1>(info.param) ? "_renumbered" : "_stable");
                             for (char& c : name)
                                 if (c == ' ') c = '_';
                             return name;
                         });

// Refusals: each names the file, and nothing moves.
TEST_F(History, UndoRefusesWhenAFileChangedAndNamesIt) {
    const Listing before = {{"a", "1"}, {"b", "22"}, {"c", "333"}, {"d", "4444"}};
    const Renames renames = {{"a", "n1"}, {"b", "n2"}, {"c", "n3"}, {"d", "n4"}};
    struct Case {
        const char* what;
        bool renumbered;
        std::function<void()> change;
        ChangedFile::Change expected;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"renamed since", false,
         [&] { std::filesystem::rename(files_.Path("n1"), files_.Path("z")); },
         ChangedFile::Change::kGone, "n1"},
        {"deleted since", true, [&] { std::filesystem::remove(files_.Path("n2")); },
         ChangedFile::Change::kGone, "n2"},
        {"replaced by another file of the same name", false,
         [&] {
             std::filesystem::remove(files_.Path("n3"));
             std::ofstream(files_.Path("n3")) << "333";
         },
         ChangedFile::Change::kReplaced, "n3"},
        {"edited on a volume that renumbers", true,
         [&] { std::ofstream(files_.Path("n4"), std::ios::app) << "more"; },
         ChangedFile::Change::kReplaced, "n4"},
        {"old name taken", false, [&] { std::ofstream(files_.Path("a")) << "someone else's"; },
         ChangedFile::Change::kOldNameTaken, "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Emptied, not removed: the file system keeps its folders open.
        for (const TempDir* dir : {&files_, &journals_}) {
            for (const auto& entry : std::filesystem::directory_iterator(dir->bytes()))
                std::filesystem::remove_all(entry.path());
        }
        fs_.inodesUnstable = c.renumbered;
        fs_.inodeShift = 0;
        Make(files_.bytes(), before);
        ASSERT_EQ(Run(renames), RenameOutcome::kRenamed);
        if (c.renumbered) fs_.inodeShift = 77;
        c.change();
        const Listing changed = Read(files_.bytes());
        const std::vector<ChangedFile> refused = Undo();
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused[0].change, c.expected);
        EXPECT_EQ(refused[0].path, files_.Path(c.path));
        EXPECT_NE(DescribeChange(refused[0]).find(files_.Path(c.path)), std::string::npos);
        EXPECT_EQ(Read(files_.bytes()), changed);
        EXPECT_FALSE(Kept().at(0).undone);
    }
}

TEST_F(History, AnEditedFileOnAVolumeThatKeepsNumbersIsStillTheRunsFile) {
    Make(files_.bytes(), {{"a", "1"}});
    ASSERT_EQ(Run({{"a", "b"}}), RenameOutcome::kRenamed);
    std::ofstream(files_.Path("b"), std::ios::app) << " edited";
    EXPECT_TRUE(Undo().empty());
    EXPECT_EQ(Read(files_.bytes()), (Listing{{"a", "1 edited"}}));
}

TEST_F(History, ANewerRunTouchingTheSameFilesIsFoundAndOthersAreNot) {
    Make(files_.bytes(), {{"a", "1"}, {"x", "2"}, {"dir", "/"}, {"dir/f", "3"}, {"q", "4"}});
    ASSERT_EQ(Run({{"a", "b"}, {"dir", "DIR"}}), RenameOutcome::kRenamed);
    ASSERT_EQ(Run({{"x", "y"}}), RenameOutcome::kRenamed);          // other files
    ASSERT_EQ(Run({{"b", "c"}}), RenameOutcome::kRenamed);          // the first run's file
    ASSERT_EQ(Run({{"DIR/f", "DIR/g"}}), RenameOutcome::kRenamed);  // inside its folder
    ASSERT_EQ(Run({{"q", "A"}}), RenameOutcome::kRenamed);          // its old name, in another case
    const std::vector<KeptRun> runs = Kept();
    ASSERT_EQ(runs.size(), 5u);
    const JournalRecord first = Record(runs[4]);
    EXPECT_FALSE(TouchesSameFiles(first, Record(runs[3])));
    EXPECT_TRUE(TouchesSameFiles(first, Record(runs[2])));
    EXPECT_TRUE(TouchesSameFiles(first, Record(runs[1])));
    EXPECT_TRUE(TouchesSameFiles(first, Record(runs[0])));
    EXPECT_EQ(RunFolders(first), std::vector<std::string>{files_.bytes()});
}

}  // namespace
}  // namespace morix
