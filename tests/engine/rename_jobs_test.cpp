// The jobs of a run: paths kept in shared blocks must stay where they are
// while more jobs come, copies must not share them, and the outcome of a run
// must stay with its job.
#include "engine/rename_jobs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morix {
namespace {

std::string PathOf(int i, std::size_t length = 40) {
    std::string path = "/folder/" + std::to_string(i) + "-";
    path.resize(length, 'x');
    return path;
}

TEST(RenameJobs, PathsStayWhereTheyAreWhileJobsAreAdded) {
    RenameJobs jobs;
    // A path longer than a block of paths, and enough jobs for many blocks.
    const std::string longPath = "/" + std::string(100000, 'l');
    jobs.Add(PathOf(0), longPath);
    const std::string_view firstOld = jobs.OldPaths()[0];
    const std::string_view firstNew = jobs.NewPaths()[0];
    for (int i = 1; i < 5000; ++i) jobs.Add(PathOf(i), PathOf(-i, 1 + i % 300));
    ASSERT_EQ(jobs.size(), 5000u);
    EXPECT_EQ(jobs.OldPaths()[0].data(), firstOld.data());
    EXPECT_EQ(jobs.NewPaths()[0].data(), firstNew.data());
    EXPECT_EQ(jobs[0].newPath, longPath);
    for (int i = 1; i < 5000; ++i) {
        const RenameJob job = jobs[static_cast<std::size_t>(i)];
        ASSERT_EQ(job.oldPath, PathOf(i));
        ASSERT_EQ(job.newPath, PathOf(-i, 1 + i % 300));
        // The system calls of a run read the paths as C strings.
        ASSERT_EQ(job.oldPath.data()[job.oldPath.size()], '\0');
        ASSERT_EQ(job.newPath.data()[job.newPath.size()], '\0');
        ASSERT_FALSE(job.done);
        ASSERT_EQ(job.error, 0);
        ASSERT_TRUE(job.tempPath.empty());
    }
}

TEST(RenameJobs, OutcomeStaysWithItsJobAndCopiesAreApart) {
    RenameJobs jobs;
    for (int i = 0; i < 6; ++i) jobs.Add(PathOf(i), PathOf(i + 10));
    jobs.SetDone(1, true);
    jobs.SetError(2, 5);
    // Temporary paths given out of job order, and one given twice.
    jobs.SetTempPath(4, "/folder/.t4");
    jobs.SetTempPath(0, "/folder/.t0");
    jobs.SetTempPath(3, "/folder/.t3");
    jobs.SetTempPath(4, "/folder/.t4b");

    RenameJobs copy = jobs;
    {
        RenameJobs gone = jobs;  // a copy that goes takes nothing of the others
    }
    jobs = RenameJobs();
    std::vector<std::string> temps;
    for (const RenameJob& job : copy) temps.emplace_back(job.tempPath);
    EXPECT_EQ(temps, (std::vector<std::string>{"/folder/.t0", "", "", "/folder/.t3",
                                               "/folder/.t4b", ""}));
    EXPECT_TRUE(copy[1].done);
    EXPECT_FALSE(copy[2].done);
    EXPECT_EQ(copy[2].error, 5);
    EXPECT_EQ(copy[5].oldPath, PathOf(5));
    EXPECT_EQ(copy[5].newPath, PathOf(15));

    copy.ClearOutcome();
    for (const RenameJob& job : copy) {
        EXPECT_FALSE(job.done);
        EXPECT_EQ(job.error, 0);
        EXPECT_TRUE(job.tempPath.empty());
    }
    EXPECT_EQ(copy.size(), 6u);
}

}  // namespace
}  // namespace morix
