// The user's history of kept runs and the preparing of an undo: which run is
// picked, and the refusals that come before any check of the files.
#include "base/run_history.h"

#include <sys/file.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/run_journal_folder.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

class RunHistoryTest : public ::testing::Test {
  protected:
    // A completed run of from -> to in files_, kept in the history.
    void Rename(const std::string& from, const std::string& to) {
        RenameJobs jobs;
        jobs.Add(files_.Path(from), files_.Path(to));
        PreparedRun prepared = PrepareJournaledRun(std::move(jobs));
        ASSERT_NE(prepared.ready, nullptr) << prepared.error;
        ASSERT_TRUE(prepared.ready->run.Start());
        prepared.ready->run.Join();
        ASSERT_EQ(prepared.ready->run.Outcome(), RenameOutcome::kRenamed);
    }

    TempDir state_;
    const ScopedEnv env_{"XDG_STATE_HOME", state_.bytes()};
    TempDir files_;
};

TEST_F(RunHistoryTest, PicksTheNewestRunNotUndoneAndRefusesWhatCannotBeUndone) {
    std::string error;
    EXPECT_TRUE(ReadRunHistory(error).empty());
    EXPECT_EQ(error, "");
    EXPECT_EQ(PrepareUndo(0).status, UndoStatus::kNothingToUndo);
    files_.MakeFile("a", 1);
    files_.MakeFile("x", 2);
    Rename("a", "b");
    Rename("x", "y");
    const std::vector<HistoryEntry> history = ReadRunHistory(error);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].run.id, 2u);
    EXPECT_EQ(history[0].files, 1u);
    EXPECT_EQ(history[0].folders, std::vector<std::string>{files_.bytes()});

    EXPECT_EQ(PrepareUndo(7).status, UndoStatus::kUnknownRun);
    {
        // Another process holds the newest run's record while it undoes it.
        PreparedUndo held = PrepareUndo(0);
        ASSERT_EQ(held.status, UndoStatus::kReady);
        EXPECT_EQ(held.entry.run.id, 2u);
        EXPECT_EQ(PrepareUndo(2).status, UndoStatus::kBusy);
    }
    PreparedUndo undo = PrepareUndo(0);
    ASSERT_EQ(undo.status, UndoStatus::kReady);
    ASSERT_TRUE(undo.ready->run.Start());
    undo.ready->run.Join();
    ASSERT_EQ(undo.ready->run.Outcome(), RenameOutcome::kRenamed);
    EXPECT_EQ(ConcludeUndo(undo), "");
    EXPECT_TRUE(std::filesystem::exists(files_.Path("x")));
    EXPECT_EQ(PrepareUndo(2).status, UndoStatus::kAlreadyUndone);
    // Next in line: the older run.
    PreparedUndo next = PrepareUndo(0);
    EXPECT_EQ(next.status, UndoStatus::kReady);
    EXPECT_EQ(next.entry.run.id, 1u);
}

TEST_F(RunHistoryTest, AFolderThatCannotBeReadIsSaidAndIsNoEmptyHistory) {
    files_.MakeFile("a", 1);
    Rename("a", "b");
    const std::string folder = RunJournalFolder();
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "not a folder";
    std::string error;
    EXPECT_TRUE(ReadRunHistory(error).empty());
    EXPECT_NE(error.find(folder), std::string::npos) << error;
    const PreparedUndo undo = PrepareUndo(0);
    EXPECT_EQ(undo.status, UndoStatus::kCannotStart);
    EXPECT_NE(undo.problem.find(folder), std::string::npos) << undo.problem;
}

}  // namespace
}  // namespace morix
