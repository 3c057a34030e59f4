// The run journal: its text survives any file name, damage and cuts are
// recognised, and the file on disk is complete, private, locked and gone at
// the end.
#include "engine/run_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::TempDir;

JournalRecord SampleRecord() {
    JournalRecord record;
    record.pid = 4242;
    record.started = 1796600000;
    record.folders.push_back(
        {2049,
         "/home/user/photos",
         {{12, "a.jpg", "b.jpg"},
          {13, std::string("line\nbreak"), "colon:3:and space"},
          {18446744073709551615ull, std::string("bytes\xff\x80\xc3", 8), "\t"}}});
    record.folders.push_back({7, "", {{2, "root-file", "root file 2"}}});
    return record;
}

void ExpectSame(const JournalRecord& a, const JournalRecord& b) {
    EXPECT_EQ(a.pid, b.pid);
    EXPECT_EQ(a.started, b.started);
    ASSERT_EQ(a.folders.size(), b.folders.size());
    for (std::size_t f = 0; f < a.folders.size(); ++f) {
        EXPECT_EQ(a.folders[f].device, b.folders[f].device);
        EXPECT_EQ(a.folders[f].path, b.folders[f].path);
        ASSERT_EQ(a.folders[f].files.size(), b.folders[f].files.size());
        for (std::size_t i = 0; i < a.folders[f].files.size(); ++i) {
            EXPECT_EQ(a.folders[f].files[i].inode, b.folders[f].files[i].inode);
            EXPECT_EQ(a.folders[f].files[i].oldName, b.folders[f].files[i].oldName);
            EXPECT_EQ(a.folders[f].files[i].newName, b.folders[f].files[i].newName);
        }
    }
}

TEST(JournalText, RoundTripsAnyFileNameBytes) {
    const JournalRecord record = SampleRecord();
    const auto parsed = ParseJournal(FormatJournal(record));
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed)) << std::get<std::string>(parsed);
    ExpectSame(record, std::get<JournalRecord>(parsed));
}

TEST(JournalText, EveryCutAndEveryChangedByteIsRefused) {
    const std::string text = FormatJournal(SampleRecord());
    for (std::size_t length = 0; length < text.size(); ++length) {
        EXPECT_TRUE(std::holds_alternative<std::string>(ParseJournal(text.substr(0, length))))
            << "cut at " << length;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        for (const char bit : {'\x01', '\x20', '\x80'}) {
            std::string damaged = text;
            damaged[at] = static_cast<char>(damaged[at] ^ bit);
            EXPECT_TRUE(std::holds_alternative<std::string>(ParseJournal(damaged)))
                << "byte " << at << " changed";
        }
    }
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseJournal(text + "x")));
}

TEST(JournalText, NamesThatNoFileCanHaveAreRefusedEvenWithAGoodChecksum) {
    for (const std::string& bad : {std::string(), std::string("."), std::string(".."),
                                   std::string("a/b"), std::string("nul\0x", 5)}) {
        JournalRecord record = SampleRecord();
        record.folders[0].files[0].newName = bad;
        EXPECT_TRUE(std::holds_alternative<std::string>(ParseJournal(FormatJournal(record))))
            << bad;
    }
    JournalRecord relative = SampleRecord();
    relative.folders[0].path = "relative/folder";
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseJournal(FormatJournal(relative))));
}

TEST(JournalText, ACountLargerThanTheTextIsRefusedWithoutReservingForIt) {
    const std::string text =
        std::string("morix run journal 1\npid 1\nstarted 2\n") + "folder 1 999999999999999 2:/x\n";
    const auto parsed = ParseJournal(text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_EQ(std::get<std::string>(parsed), "the record is cut short");
}

std::uint64_t InodeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(ReadInodes, ListingAndSingleQueriesAgreeWithTheFiles) {
    TempDir dir;
    for (const std::size_t count : {std::size_t{3}, std::size_t{200}}) {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < count; ++i) {
            names.push_back("n" + std::to_string(count) + "_" + std::to_string(i));
            dir.MakeFile(names.back());
        }
        names.push_back("absent");
        std::vector<std::string_view> views(names.begin(), names.end());
        std::uint64_t device = 0;
        std::vector<std::uint64_t> inodes;
        ASSERT_EQ(ReadInodes(dir.bytes(), views, device, inodes), 0);
        struct stat st;
        ASSERT_EQ(stat(dir.bytes().c_str(), &st), 0);
        EXPECT_EQ(device, st.st_dev);
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_EQ(inodes[i], InodeOf(dir.Path(names[i])));
        EXPECT_EQ(inodes.back(), 0u);
    }
    std::uint64_t device = 0;
    std::vector<std::uint64_t> inodes;
    EXPECT_EQ(ReadInodes(dir.Path("missing"), {"x"}, device, inodes), ENOENT);
}

std::vector<std::string> Entries(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.bytes()))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(RunJournal, RecordsWhatMovesDurablyPrivatelyAndLockedAndFinishRemovesIt) {
    TempDir files, journals;
    const std::vector<std::string> oldPaths = {files.MakeFile("a"), files.MakeFile("same"),
                                               files.MakeFile("b")};
    const std::vector<std::string> newPaths = {files.Path("b"), files.Path("same"),
                                               files.Path("new\nname")};
    RunJournal journal(journals.bytes());
    ASSERT_TRUE(journal.Begin(oldPaths, newPaths)) << journal.Error();
    EXPECT_TRUE(journal.Unfinished());
    ASSERT_EQ(Entries(journals),
              std::vector<std::string>{std::filesystem::path(journal.Path()).filename().string()});
    EXPECT_TRUE(journal.Path().ends_with(".journal"));

    struct stat st;
    ASSERT_EQ(stat(journal.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const auto parsed = ParseJournal(TempDir::Read(journal.Path()));
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed));
    const JournalRecord& record = std::get<JournalRecord>(parsed);
    EXPECT_EQ(record.pid, getpid());
    ASSERT_EQ(record.folders.size(), 1u);
    EXPECT_EQ(record.folders[0].path, files.bytes());
    ASSERT_EQ(record.folders[0].files.size(), 2u);  // the unchanged name is left out
    EXPECT_EQ(record.folders[0].files[0].oldName, "a");
    EXPECT_EQ(record.folders[0].files[0].newName, "b");
    EXPECT_EQ(record.folders[0].files[0].inode, InodeOf(oldPaths[0]));
    EXPECT_EQ(record.folders[0].files[1].newName, "new\nname");
    EXPECT_EQ(record.folders[0].files[1].inode, InodeOf(oldPaths[2]));

    // Another process (another open file) cannot take the lock of a live run.
    const int other = open(journal.Path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);

    journal.Finish();
    EXPECT_FALSE(journal.Unfinished());
    EXPECT_TRUE(Entries(journals).empty());
}

TEST(RunJournal, AMissingFileIsLeftOutAndAMissingJournalFolderStopsTheRun) {
    TempDir files, journals;
    RunJournal journal(journals.bytes());
    ASSERT_TRUE(journal.Begin({files.Path("gone"), files.MakeFile("here")},
                              {files.Path("x"), files.Path("y")}));
    const auto parsed = ParseJournal(TempDir::Read(journal.Path()));
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed));
    ASSERT_EQ(std::get<JournalRecord>(parsed).FileCount(), 1u);
    EXPECT_EQ(std::get<JournalRecord>(parsed).folders[0].files[0].oldName, "here");

    RunJournal nowhere(journals.Path("no-such-folder"));
    EXPECT_FALSE(nowhere.Begin({files.MakeFile("f")}, {files.Path("g")}));
    EXPECT_NE(nowhere.Error().find("no-such-folder"), std::string::npos) << nowhere.Error();
    EXPECT_FALSE(nowhere.Unfinished());
}

TEST(RunJournal, ARunThatMovesNothingWritesNothing) {
    TempDir files, journals;
    RunJournal journal(journals.bytes());
    EXPECT_TRUE(journal.Begin({files.MakeFile("f")}, {files.Path("f")}));
    EXPECT_FALSE(journal.Unfinished());
    EXPECT_TRUE(Entries(journals).empty());
}

TEST(RunJournal, AnUnfinishedJournalOutlivesItsObjectAndTwoRunsNeverShareOne) {
    TempDir files, journals;
    std::string first, second;
    {
        RunJournal a(journals.bytes()), b(journals.bytes());
        ASSERT_TRUE(a.Begin({files.MakeFile("x")}, {files.Path("y")}));
        ASSERT_TRUE(b.Begin({files.MakeFile("p")}, {files.Path("q")}));
        first = a.Path();
        second = b.Path();
    }
    EXPECT_NE(first, second);
    EXPECT_EQ(Entries(journals).size(), 2u);
}

}  // namespace
}  // namespace morix
