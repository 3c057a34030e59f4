// The instance lock: one holder at a time, gone with its holder, never
// handed to started programs.
#include "app/start/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "support/temp_dir.h"

extern char** environ;

namespace morix::start {
namespace {

using Result = InstanceLock::Result;

TEST(InstanceLock, OneHolderAtATime) {
    testing::TempDir dir;
    const std::string path = InstanceLockPath(dir.bytes());
    InstanceLock first;
    InstanceLock second;
    EXPECT_EQ(first.TryAcquire(path), Result::kAcquired);
    EXPECT_EQ(first.TryAcquire(path), Result::kAcquired);  // held already
    EXPECT_EQ(second.TryAcquire(path), Result::kHeldElsewhere);
    EXPECT_FALSE(second.Held());
    first.Release();
    EXPECT_EQ(second.TryAcquire(path), Result::kAcquired);
    {
        InstanceLock scoped;
        second.Release();
        EXPECT_EQ(scoped.TryAcquire(path), Result::kAcquired);
    }
    EXPECT_EQ(first.TryAcquire(path), Result::kAcquired);  // the destructor let go
}

TEST(InstanceLock, MissingFolderOrLinkIsUnavailable) {
    testing::TempDir dir;
    InstanceLock lock;
    EXPECT_EQ(lock.TryAcquire(dir.Path("missing/x.lock")), Result::kUnavailable);
    // A link planted where the lock belongs is not followed.
    ASSERT_EQ(::symlink(dir.Path("elsewhere").c_str(), dir.Path("link.lock").c_str()), 0);
    EXPECT_EQ(lock.TryAcquire(dir.Path("link.lock")), Result::kUnavailable);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("elsewhere")));
}

TEST(InstanceLock, StartedProgramDoesNotKeepIt) {
    // The renamer starts the popup, which may outlive it by a minute: the
    // popup must not hold the renamer's lock.
    testing::TempDir dir;
    const std::string path = InstanceLockPath(dir.bytes());
    InstanceLock lock;
    ASSERT_EQ(lock.TryAcquire(path), Result::kAcquired);
    pid_t child = 0;
    char sleep[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&child, sleep, nullptr, nullptr, argv, environ), 0);
    lock.Release();
    InstanceLock next;
    EXPECT_EQ(next.TryAcquire(path), Result::kAcquired);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace morix::start
