#include "base/journaled_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "base/run_journal_folder.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

RenameJobs OneJob(const TempDir& dir) {
    dir.MakeFile("old.txt", 3);
    RenameJobs jobs;
    jobs.Add(dir.Path("old.txt"), dir.Path("new.txt"));
    return jobs;
}

TEST(JournaledRunTest, RunKeepsItsJournalInTheUsersFolder) {
    TempDir state;
    TempDir files;
    const ScopedEnv env("XDG_STATE_HOME", state.bytes());
    PreparedRun prepared = PrepareJournaledRun(OneJob(files));
    ASSERT_NE(prepared.ready, nullptr) << prepared.error;
    EXPECT_TRUE(prepared.error.empty());
    JournaledRun& ready = *prepared.ready;
    ASSERT_TRUE(ready.run.Start());
    ready.run.Join();
    // The run wrote its journal there, and removed it at the end.
    EXPECT_EQ(ready.journal.Path().rfind(RunJournalFolder() + "/", 0), 0u) << ready.journal.Path();
    EXPECT_EQ(ready.run.Outcome(), RenameOutcome::kRenamed);
    EXPECT_TRUE(std::filesystem::exists(files.Path("new.txt")));
    EXPECT_FALSE(ready.journal.Unfinished());
    // What stays is the record of the completed run, for undo.
    const std::vector<std::filesystem::path> left(
        std::filesystem::directory_iterator(RunJournalFolder()), {});
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].filename(), "history-1.run");
    EXPECT_EQ(ready.journal.KeptPath(), left[0].string());
}

TEST(JournaledRunTest, AnUndoRunKeepsNoRecord) {
    TempDir state;
    TempDir files;
    const ScopedEnv env("XDG_STATE_HOME", state.bytes());
    PreparedRun prepared = PrepareJournaledRun(OneJob(files), {}, false);
    ASSERT_NE(prepared.ready, nullptr) << prepared.error;
    ASSERT_TRUE(prepared.ready->run.Start());
    prepared.ready->run.Join();
    EXPECT_EQ(prepared.ready->run.Outcome(), RenameOutcome::kRenamed);
    EXPECT_TRUE(prepared.ready->journal.KeptPath().empty());
    EXPECT_TRUE(std::filesystem::is_empty(RunJournalFolder()));
}

TEST(JournaledRunTest, CallersSettingsReachTheRun) {
    TempDir state;
    TempDir files;
    const ScopedEnv env("XDG_STATE_HOME", state.bytes());
    // Another run holds the folder; the caller's callback hears of it and
    // lets the folder go.
    int held = ::open(files.bytes().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::string waitedFor;
    RenameRunSettings settings;
    settings.onWaitForFolder = [&](const std::string& folder) {
        waitedFor = folder;
        ::close(held);
    };
    PreparedRun prepared = PrepareJournaledRun(OneJob(files), std::move(settings));
    ASSERT_NE(prepared.ready, nullptr) << prepared.error;
    ASSERT_TRUE(prepared.ready->run.Start());
    // Without the callback the run would wait for the folder for ever.
    const bool ended = prepared.ready->run.Join(10000);
    if (!ended) {
        ::close(held);
        prepared.ready->run.Join();
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(waitedFor, files.bytes());
    EXPECT_EQ(prepared.ready->run.Outcome(), RenameOutcome::kRenamed);
    EXPECT_TRUE(std::filesystem::exists(files.Path("new.txt")));
}

TEST(JournaledRunTest, NoRunWithoutAJournalFolder) {
    TempDir state;
    TempDir files;
    // A regular file where the folders would have to be made.
    const ScopedEnv env("XDG_STATE_HOME", state.MakeFile("not-a-folder"));
    const PreparedRun prepared = PrepareJournaledRun(OneJob(files));
    EXPECT_EQ(prepared.ready, nullptr);
    EXPECT_EQ(prepared.error.rfind(RunJournalFolder() + ": ", 0), 0u) << prepared.error;
    EXPECT_TRUE(std::filesystem::exists(files.Path("old.txt")));
}

}  // namespace
}  // namespace morix
