// What the system hands out, owned: locks that exclude each other until
// their file closes, folder listings, a folder held open across calls, and
// whole files replaced so that no reader sees half of one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "os/dir_stream.h"
#include "os/file_lock.h"
#include "os/files.h"
#include "os/held_folder.h"
#include "os/unique_fd.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::TempDir;

TEST(FileLock, ExcludesAnotherHolderUntilItsFileCloses) {
    TempDir dir;
    const std::string path = dir.Path("lock");
    UniqueFd first;
    ASSERT_EQ(HoldLockFile(path, false, first), 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    UniqueFd second;
    EXPECT_EQ(HoldLockFile(path, false, second), EWOULDBLOCK);
    EXPECT_FALSE(second.Valid());
    first.Reset();
    EXPECT_EQ(HoldLockFile(path, false, second), 0);
    EXPECT_TRUE(second.Valid());
}

TEST(FileLock, NeverFollowsALinkInPlaceOfTheLockFile) {
    TempDir dir;
    const std::string target = dir.MakeFile("elsewhere");
    ASSERT_EQ(symlink(target.c_str(), dir.Path("lock").c_str()), 0);
    UniqueFd held;
    EXPECT_EQ(HoldLockFile(dir.Path("lock"), false, held), ELOOP);
    EXPECT_FALSE(held.Valid());
}

TEST(DirStream, ListsEveryEntryButTheDotsAndSaysWhyAFolderCannotBeRead) {
    TempDir dir;
    dir.MakeFile("a");
    dir.MakeFile(".hidden");
    dir.MakeFolder("sub");
    std::set<std::string> names;
    DirStream stream(dir.bytes());
    while (const dirent* entry = stream.Next())
        names.insert(entry->d_name);
    EXPECT_EQ(stream.Error(), 0);
    EXPECT_EQ(names, (std::set<std::string>{"a", ".hidden", "sub"}));

    EXPECT_EQ(DirStream(dir.Path("missing")).Error(), ENOENT);
    DirStream file(dir.Path("a"));
    EXPECT_EQ(file.Error(), ENOTDIR);
    EXPECT_EQ(file.Next(), nullptr);
    EXPECT_EQ(file.Fd(), -1);
}

TEST(HeldFolder, StaysOpenForItsFolderAndTriesAgainAfterAFailure) {
    TempDir dir;
    const std::string a = dir.MakeFolder("a");
    HeldFolder held;
    const int fd = held.Open(a);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(held.Open(a), fd);  // no second open for the same folder

    // A folder that cannot be opened now is asked for again next time.
    const std::string b = dir.Path("b");
    EXPECT_EQ(held.Open(b), -1);
    dir.MakeFolder("b");
    const int fdB = held.Open(b);
    ASSERT_GE(fdB, 0);
    struct stat st, expected;
    ASSERT_EQ(fstatat(fdB, "", &st, AT_EMPTY_PATH), 0);
    ASSERT_EQ(stat(b.c_str(), &expected), 0);
    EXPECT_EQ(st.st_ino, expected.st_ino);
}

TEST(ReplaceFileAtomically, ReplacesWhatALinkPointsToAndKeepsTheLink) {
    TempDir dir;
    const std::string real = dir.Path("real.conf");
    ASSERT_TRUE(ReplaceFileAtomically(real, "first", 0600));
    ASSERT_EQ(symlink(real.c_str(), dir.Path("link.conf").c_str()), 0);
    ASSERT_TRUE(ReplaceFileAtomically(dir.Path("link.conf"), "second", 0644));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("link.conf")));
    EXPECT_EQ(TempDir::Read(real), "second");
    struct stat st;
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // Nothing of the temporary file is left beside it.
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.bytes())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 2u);
}

TEST(ReadSmallFile, ReadsARegularFileWithinItsLimitOnly) {
    TempDir dir;
    const std::string path = dir.Path("f");
    ASSERT_TRUE(ReplaceFileAtomically(path, "12345", 0600));
    EXPECT_EQ(ReadSmallFile(path, 5), "12345");
    EXPECT_EQ(ReadSmallFile(path, 4), std::nullopt);
    bool missing = false;
    EXPECT_EQ(ReadSmallFile(dir.Path("none"), 5, &missing), std::nullopt);
    EXPECT_TRUE(missing);
    ASSERT_EQ(mkfifo(dir.Path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(ReadSmallFile(dir.Path("pipe"), 5, &missing), std::nullopt);  // never hangs
    EXPECT_FALSE(missing);
}

}  // namespace
}  // namespace morix
