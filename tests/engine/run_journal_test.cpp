// The run journal: its text survives any file name, damage and cuts are
// recognised, and the file on disk is complete, private, locked and gone at
// the end.
#include "engine/run_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_file_system.h"

namespace morix {
namespace {

// The disk, for journals written outside a run.
RealFileSystem& Disk() {
    static RealFileSystem disk;
    return disk;
}

using testing::TempDir;

JournalFile File(std::uint64_t inode, std::string oldName, std::string newName,
                 std::string parkName = {}) {
    JournalFile file;
    file.identity.inode = inode;
    file.identity.size = inode * 1000;
    file.identity.mtimeSec = 1796599000 + static_cast<std::int64_t>(inode % 7);
    file.identity.mtimeNsec = 999999999;
    if (inode % 2 == 0) {
        file.identity.btimeSec = -5;  // before the epoch: a sign, not "no birth time"
        file.identity.btimeNsec = 12;
    }
    file.identity.folder = inode == 13;
    file.oldName = std::move(oldName);
    file.newName = std::move(newName);
    file.parkName = std::move(parkName);
    return file;
}

JournalRecord SampleRecord() {
    JournalRecord record;
    record.pid = 4242;
    record.started = 1796600000;
    JournalFolder photos;
    photos.device = 2049;
    photos.volume = "type=ext4 root=/ uuid=0b7c5e1a-6f3d-4c9e-9a51-2f0c8e6d4b21";
    photos.path = "/home/user/photos";
    photos.files = {File(12, "a.jpg", "b.jpg"), File(13, "line\nbreak", "colon:3:and space"),
                    File(18446744073709551615ull, std::string("bytes\xff\x80\xc3", 8), "\t")};
    record.folders.push_back(photos);
    JournalFolder card;
    card.device = 7;
    card.stableInodes = false;
    card.volume = "type=fuseblk root=/ uuid=1A2B-3C4D";
    card.files = {File(2, "root-file", "root file 2", ".morx$0"), File(3, "x", "y", ".morx$1.z"),
                  File(4, "printed", "printed 2")};
    card.files[1].print = 0;
    card.files[2].print = 0xfedcba9876543210ull;
    record.folders.push_back(card);
    return record;
}

void ExpectSame(const JournalRecord& a, const JournalRecord& b) {
    EXPECT_EQ(a.pid, b.pid);
    EXPECT_EQ(a.stage, b.stage);
    EXPECT_EQ(a.finished, b.finished);
    EXPECT_EQ(a.started, b.started);
    ASSERT_EQ(a.folders.size(), b.folders.size());
    for (std::size_t f = 0; f < a.folders.size(); ++f) {
        EXPECT_EQ(a.folders[f].device, b.folders[f].device);
        EXPECT_EQ(a.folders[f].stableInodes, b.folders[f].stableInodes);
        EXPECT_EQ(a.folders[f].volume, b.folders[f].volume);
        EXPECT_EQ(a.folders[f].path, b.folders[f].path);
        ASSERT_EQ(a.folders[f].files.size(), b.folders[f].files.size());
        for (std::size_t i = 0; i < a.folders[f].files.size(); ++i) {
            const JournalFile& x = a.folders[f].files[i];
            const JournalFile& y = b.folders[f].files[i];
            EXPECT_EQ(x.identity.inode, y.identity.inode);
            EXPECT_EQ(x.identity.size, y.identity.size);
            EXPECT_EQ(x.identity.mtimeSec, y.identity.mtimeSec);
            EXPECT_EQ(x.identity.mtimeNsec, y.identity.mtimeNsec);
            EXPECT_EQ(x.identity.btimeSec, y.identity.btimeSec);
            EXPECT_EQ(x.identity.btimeNsec, y.identity.btimeNsec);
            EXPECT_EQ(x.identity.folder, y.identity.folder);
            EXPECT_EQ(y.identity.device, b.folders[f].device);
            EXPECT_EQ(x.oldName, y.oldName);
            EXPECT_EQ(x.newName, y.newName);
            EXPECT_EQ(x.parkName, y.parkName);
            EXPECT_EQ(x.print, y.print);
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

TEST(JournalText, StageAndFinishMarksReadBackAndAMarkCutShortWasNotMade) {
    JournalRecord record = SampleRecord();
    const std::string body = FormatJournal(record);
    for (int stage = 0; stage <= 2; ++stage) {
        for (const bool finished : {false, true}) {
            record.stage = stage;
            record.finished = finished;
            const std::string text = FormatJournal(record);
            const auto parsed = ParseJournal(text);
            ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed)) << text;
            ExpectSame(record, std::get<JournalRecord>(parsed));
            // The last mark's write cut anywhere before its line break: the
            // record reads as before that mark.
            if (text.size() == body.size()) continue;
            const std::size_t lastMark = text.rfind('\n', text.size() - 2) + 1;
            for (std::size_t cut = lastMark + 1; cut < text.size(); ++cut) {
                const auto cutShort = ParseJournal(text.substr(0, cut));
                ASSERT_TRUE(std::holds_alternative<JournalRecord>(cutShort));
                const JournalRecord& before = std::get<JournalRecord>(cutShort);
                EXPECT_EQ(before.finished, false);
                EXPECT_EQ(before.stage, finished ? stage : stage - 1);
            }
        }
    }
    // Marks out of order, repeated or unknown are damage.
    for (const char* tail : {"stage 2\n", "stage 1\nstage 1\n", "finished\nstage 1\n",
                             "finished\nfinished\n", "stage 3\n", "x", "\n"}) {
        EXPECT_TRUE(std::holds_alternative<std::string>(ParseJournal(body + tail))) << tail;
    }
}

TEST(JournalText, AJournalOfTheEarlierFormatIsRefusedWithAReason) {
    const auto parsed = ParseJournal(
        "morix run journal 1\npid 1\nstarted 2\nfolder 1 1 2:/x\n5 1:a 1:b\nend 1 1 00000000\n");
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_NE(std::get<std::string>(parsed).find("older version"), std::string::npos);
}

TEST(JournalText, AJournalWithoutContentPrintsStillReads) {
    // Written before files were recorded with a print of their content.
    const auto parsed = ParseJournal(
        "morix run journal 2\npid 7\nstarted 100\nfolder 5 0 1 0: 2:/x\n"
        "9 1000 1796599000 0 1796599001 500000000 f 1:a 1:b 0:\nend 1 1 5d9fc05f\nstage 1\n");
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed)) << std::get<std::string>(parsed);
    const JournalRecord& record = std::get<JournalRecord>(parsed);
    ASSERT_EQ(record.FileCount(), 1u);
    const JournalFile& file = record.folders[0].files[0];
    EXPECT_EQ(file.identity.size, 1000u);
    EXPECT_EQ(file.identity.btimeNsec, 500000000u);
    EXPECT_EQ(file.newName, "b");
    EXPECT_FALSE(file.print.has_value());
    EXPECT_EQ(record.stage, 1);
    // Written again, it takes the present form and reads back the same.
    const auto again = ParseJournal(FormatJournal(record));
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(again));
    ExpectSame(record, std::get<JournalRecord>(again));
}

TEST(JournalText, ACountLargerThanTheTextIsRefusedWithoutReservingForIt) {
    const std::string text = std::string("morix run journal 2\npid 1\nstarted 2\n") +
                             "folder 1 1 999999999999999 0: 2:/x\n";
    const auto parsed = ParseJournal(text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_EQ(std::get<std::string>(parsed), "the record is cut short");
}

std::uint64_t InodeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
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
    RunJournal journal(journals.bytes(), Disk());
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
    EXPECT_EQ(record.folders[0].files[0].identity.inode, InodeOf(oldPaths[0]));
    EXPECT_EQ(record.folders[0].files[1].newName, "new\nname");
    EXPECT_EQ(record.folders[0].files[1].identity.inode, InodeOf(oldPaths[2]));
    struct stat folder;
    ASSERT_EQ(stat(files.bytes().c_str(), &folder), 0);
    EXPECT_EQ(record.folders[0].device, folder.st_dev);
    EXPECT_TRUE(record.folders[0].volume.starts_with("type=tmpfs root=/") ||
                record.folders[0].volume.starts_with("type="))
        << record.folders[0].volume;

    // Another process (another open file) cannot take the lock of a live run.
    const int other = open(journal.Path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);

    EXPECT_TRUE(journal.Finish());
    EXPECT_FALSE(journal.Unfinished());
    EXPECT_TRUE(Entries(journals).empty());
}

// A large run's record is written in pieces, never held whole: it reads back
// whole, and a failure at any call of writing it leaves no record behind.
TEST(RunJournal, ARecordWrittenInPiecesReadsBackWholeOrLeavesNothing) {
    TempDir files, journals;
    constexpr int kFiles = 12000;  // a record of well over one piece
    const std::string padding(60, 'x');
    std::vector<std::string> oldPaths, newPaths;
    std::vector<FileIdentity> identities(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        oldPaths.push_back(files.MakeFile(padding + std::to_string(i)));
        newPaths.push_back(files.Path("new" + padding + std::to_string(i)));
        ASSERT_EQ(Disk().Identify(oldPaths[i], identities[i]), 0);
    }
    const std::vector<std::uint8_t> stable(kFiles, 1);
    const std::vector<std::string_view> from(oldPaths.begin(), oldPaths.end());
    const std::vector<std::string_view> to(newPaths.begin(), newPaths.end());
    testing::TestFileSystem fs;
    bool written = false;
    for (long call = 1; !written; ++call) {
        RunJournal journal(journals.bytes(), fs);
        ASSERT_TRUE(journal.Prepare({from, to, identities, {}, stable}));
        fs.failAt = fs.calls + call;
        written = journal.Commit();
        fs.failAt = 0;
        if (!written) {
            EXPECT_FALSE(journal.Unfinished()) << call;
            EXPECT_TRUE(Entries(journals).empty()) << call;
            continue;
        }
        EXPECT_GT(std::filesystem::file_size(journal.Path()), std::uintmax_t{2} << 20);
        ASSERT_TRUE(journal.MarkStage(1));
        const auto parsed = ParseJournal(TempDir::Read(journal.Path()));
        ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed)) << std::get<std::string>(parsed);
        const JournalRecord& record = std::get<JournalRecord>(parsed);
        EXPECT_EQ(record.stage, 1);
        ASSERT_EQ(record.folders.size(), 1u);
        const std::vector<JournalFile>& recorded = record.folders[0].files;
        ASSERT_EQ(recorded.size(), std::size_t{kFiles});
        for (int i = 0; i < kFiles; ++i) {
            ASSERT_EQ(recorded[i].oldName, padding + std::to_string(i));
            ASSERT_EQ(recorded[i].newName, "new" + padding + std::to_string(i));
            ASSERT_EQ(recorded[i].identity.inode, identities[i].inode);
        }
        EXPECT_TRUE(journal.Finish());
    }
}

TEST(RunJournal, AJournalThatCannotBeRemovedIsMarkedFinishedInstead) {
    TempDir files, journals;
    const std::string top = journals.MakeFolder("top");
    RunJournal journal(top, Disk());
    ASSERT_TRUE(journal.Begin({files.MakeFile("a")}, {files.Path("b")})) << journal.Error();
    const std::string path = journal.Path();
    // The folder above the journals is renamed (as a run may rename it):
    // the record is still reached through the folder held open.
    ASSERT_EQ(rename(top.c_str(), journals.Path("moved").c_str()), 0);
    const std::string moved = journals.Path("moved/") + std::filesystem::path(path).filename().string();
    const int hold = open(moved.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(hold, 0);
    EXPECT_TRUE(journal.Finish()) << journal.Error();
    EXPECT_FALSE(std::filesystem::exists(moved));
    // What was written before the removal: the finish mark.
    std::string text(4096, '\0');
    text.resize(static_cast<std::size_t>(pread(hold, text.data(), text.size(), 0)));
    close(hold);
    const auto parsed = ParseJournal(text);
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed));
    EXPECT_TRUE(std::get<JournalRecord>(parsed).finished);
}

TEST(RunJournal, NamesThatCannotBeFlushedKeepTheRecordUnfinished) {
    TempDir files, journals;
    testing::TestFileSystem fs;
    RunJournal journal(journals.bytes(), fs);
    ASSERT_TRUE(journal.Begin({files.MakeFile("a")}, {files.Path("b")})) << journal.Error();
    // Finish opens the run's folder, then flushes it: the flush fails.
    fs.failAt = fs.calls + 2;
    EXPECT_FALSE(journal.Finish());
    EXPECT_EQ(journal.Error(), files.bytes() + ": " + std::strerror(EIO));
    EXPECT_TRUE(journal.Unfinished());
    const auto parsed = ParseJournal(TempDir::Read(journal.Path()));
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed));
    EXPECT_FALSE(std::get<JournalRecord>(parsed).finished);
}

// A stage mark speaks of the parking moves before it: it is made only once
// they are on disk, else a power cut could keep the mark and lose the moves.
TEST(RunJournal, AStageIsMarkedOnlyOnceTheFoldersAreFlushed) {
    TempDir files, journals;
    testing::TestFileSystem fs;
    RunJournal journal(journals.bytes(), fs);
    ASSERT_TRUE(journal.Begin({files.MakeFile("a")}, {files.Path("b")})) << journal.Error();
    // MarkStage opens the run's folder, then flushes it: the flush fails.
    fs.failAt = fs.calls + 2;
    EXPECT_FALSE(journal.MarkStage(1));
    EXPECT_EQ(journal.Error(), files.bytes() + ": " + std::strerror(EIO));
    auto parsed = ParseJournal(TempDir::Read(journal.Path()));
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed));
    EXPECT_EQ(std::get<JournalRecord>(parsed).stage, 0);
    // Undisturbed, the mark follows the flush.
    EXPECT_TRUE(journal.MarkStage(1)) << journal.Error();
    parsed = ParseJournal(TempDir::Read(journal.Path()));
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed));
    EXPECT_EQ(std::get<JournalRecord>(parsed).stage, 1);
    EXPECT_TRUE(journal.Finish()) << journal.Error();
}

// Where a folder's flush is one of its whole volume (vfat), a run over many
// folders flushes that volume once per mark, not once per folder; elsewhere
// every folder is flushed on its own.
TEST(RunJournal, AVolumeFlushedWholeIsFlushedOncePerMark) {
    TempDir files, journals;
    std::vector<std::string> oldPaths, newPaths;
    for (const char* folder : {"d1", "d2", "d3"}) {
        files.MakeFolder(folder);
        oldPaths.push_back(files.MakeFile(std::string(folder) + "/a"));
        newPaths.push_back(files.Path(std::string(folder) + "/b"));
    }
    for (const bool wholeVolume : {false, true}) {
        SCOPED_TRACE(wholeVolume ? "flushed whole" : "flushed by folder");
        testing::TestFileSystem fs;
        fs.volumeSyncs = wholeVolume;
        RunJournal journal(journals.bytes(), fs);
        ASSERT_TRUE(journal.Begin(oldPaths, newPaths)) << journal.Error();
        // Each mark: the folders' flushes, then the flush of the line.
        const long folderSyncs = wholeVolume ? 1 : 3;
        for (const int stage : {1, 2}) {
            const long before = fs.syncs;
            EXPECT_TRUE(journal.MarkStage(stage)) << journal.Error();
            EXPECT_EQ(fs.syncs - before, folderSyncs + 1);
        }
        // The end: the folders, the finish mark, the journal's folder.
        const long before = fs.syncs;
        EXPECT_TRUE(journal.Finish()) << journal.Error();
        EXPECT_EQ(fs.syncs - before, folderSyncs + 2);
    }
}

TEST(RunJournal, AFolderTheRunRenamedIsFlushedUnderItsNewName) {
    TempDir files, journals;
    const std::string dir = files.MakeFolder("dir1");
    const std::string inside = files.MakeFile("dir1/a");
    for (const bool flushFails : {false, true}) {
        SCOPED_TRACE(flushFails ? "the flush fails" : "undisturbed");
        testing::TestFileSystem fs;
        RunJournal journal(journals.bytes(), fs);
        ASSERT_TRUE(journal.Begin({dir, inside}, {files.Path("dir2"), files.Path("dir1/b")}))
            << journal.Error();
        ASSERT_EQ(std::rename(inside.c_str(), files.Path("dir1/b").c_str()), 0);
        ASSERT_EQ(std::rename(dir.c_str(), files.Path("dir2").c_str()), 0);
        // Finish opens and flushes the top folder, misses dir1, then opens
        // and flushes dir2.
        if (flushFails) fs.failAt = fs.calls + 5;
        EXPECT_EQ(journal.Finish(), !flushFails) << journal.Error();
        EXPECT_EQ(journal.Unfinished(), flushFails);
        if (flushFails) {
            EXPECT_EQ(journal.Error(), dir + ": " + std::strerror(EIO));
        }
        ASSERT_EQ(std::rename(files.Path("dir2").c_str(), dir.c_str()), 0);
        ASSERT_EQ(std::rename(files.Path("dir1/b").c_str(), inside.c_str()), 0);
    }
}

TEST(RunJournal, AMissingFileIsLeftOutAndAMissingJournalFolderStopsTheRun) {
    TempDir files, journals;
    RunJournal journal(journals.bytes(), Disk());
    ASSERT_TRUE(journal.Begin({files.Path("gone"), files.MakeFile("here")},
                              {files.Path("x"), files.Path("y")}));
    const auto parsed = ParseJournal(TempDir::Read(journal.Path()));
    ASSERT_TRUE(std::holds_alternative<JournalRecord>(parsed));
    ASSERT_EQ(std::get<JournalRecord>(parsed).FileCount(), 1u);
    EXPECT_EQ(std::get<JournalRecord>(parsed).folders[0].files[0].oldName, "here");

    RunJournal nowhere(journals.Path("no-such-folder"), Disk());
    EXPECT_FALSE(nowhere.Begin({files.MakeFile("f")}, {files.Path("g")}));
    EXPECT_NE(nowhere.Error().find("no-such-folder"), std::string::npos) << nowhere.Error();
    EXPECT_FALSE(nowhere.Unfinished());
}

TEST(RunJournal, ARunThatMovesNothingWritesNothing) {
    TempDir files, journals;
    RunJournal journal(journals.bytes(), Disk());
    EXPECT_TRUE(journal.Begin({files.MakeFile("f")}, {files.Path("f")}));
    EXPECT_FALSE(journal.Unfinished());
    EXPECT_TRUE(Entries(journals).empty());
}

TEST(RunJournal, AnUnfinishedJournalOutlivesItsObjectAndTwoRunsNeverShareOne) {
    TempDir files, journals;
    std::string first, second;
    {
        RunJournal a(journals.bytes(), Disk()), b(journals.bytes(), Disk());
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
