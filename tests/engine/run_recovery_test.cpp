// Rolling back runs that were cut short: files are found by their inode
// number wherever the run left them, go home without replacing anything,
// and the journal goes only when every file is home.
#include "engine/run_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/run_journal.h"
#include "engine/safe_move.h"
#include "support/temp_dir.h"
#include "support/test_file_system.h"

namespace morix {
namespace {

using testing::TempDir;
using testing::TestFileSystem;

using Listing = std::map<std::string, std::string>;  // name -> content

Listing List(const TempDir& dir) {
    Listing listing;
    for (const auto& entry : std::filesystem::directory_iterator(dir.bytes())) {
        const std::string name = entry.path().filename().string();
        listing[name] = TempDir::Read(dir.Path(name));
    }
    return listing;
}

std::size_t JournalCount(const TempDir& journals) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(journals.bytes())) {
        (void)entry;
        ++count;
    }
    return count;
}

// A folder of files whose contents are their names, a journal of renames over
// them written by a run whose process then "died" (the journal is closed
// unfinished), and the moves that run had made before it stopped.
class CutShortRun {
  public:
    CutShortRun(const std::vector<std::string>& files,
                const std::vector<std::pair<std::string, std::string>>& renames) {
        for (const std::string& name : files) {
            std::ofstream(dir.Path(name)) << name;
            before[name] = name;
        }
        std::vector<std::string> oldPaths, newPaths;
        for (const auto& [from, to] : renames) {
            oldPaths.push_back(dir.Path(from));
            newPaths.push_back(dir.Path(to));
        }
        RealFileSystem disk;
        RunJournal journal(journals.bytes(), disk);
        EXPECT_TRUE(journal.Begin(oldPaths, newPaths)) << journal.Error();
    }

    // One move the run made before it stopped.
    void Moved(const std::string& from, const std::string& to) {
        ASSERT_EQ(rename(dir.Path(from).c_str(), dir.Path(to).c_str()), 0) << from << " " << to;
    }
    void Linked(const std::string& from, const std::string& to) {
        ASSERT_EQ(link(dir.Path(from).c_str(), dir.Path(to).c_str()), 0) << from << " " << to;
    }

    RecoveryReport Recover(FileSystem& fs) { return RecoverInterruptedRuns(journals.bytes(), fs); }
    RecoveryReport Recover() {
        RealFileSystem fs;
        return Recover(fs);
    }

    TempDir dir;
    TempDir journals;
    Listing before;
};

TEST(Recovery, FilesLeftAnywhereOnTheWayGoHomeAndTheJournalGoes) {
    // A chain, a swap and a rotation, each stopped in the middle: one file
    // of the swap and one of the rotation parked, the chain half shifted.
    CutShortRun run({"c1", "c2", "c3", "s1", "s2", "r1", "r2", "r3", "free"},
                    {{"c1", "c2"},
                     {"c2", "c3"},
                     {"c3", "c4"},
                     {"s1", "s2"},
                     {"s2", "s1"},
                     {"r1", "r2"},
                     {"r2", "r3"},
                     {"r3", "r1"},
                     {"free", "taken later"}});
    run.Moved("c3", "c4");
    run.Moved("c2", "c3");
    run.Moved("s1", ".morx$1");
    run.Moved("s2", "s1");
    run.Moved("r3", ".morx$2");
    run.Moved("r2", "r3");
    run.Moved("free", "taken later");

    const RecoveryReport report = run.Recover();
    ASSERT_EQ(report.runs.size(), 1u);
    EXPECT_TRUE(report.Complete());
    EXPECT_EQ(report.runs[0].files, 9u);
    EXPECT_EQ(report.runs[0].returned, 7u);
    EXPECT_EQ(report.runs[0].pid, getpid());
    EXPECT_EQ(List(run.dir), run.before);
    EXPECT_EQ(JournalCount(run.journals), 0u);
    // Once done, a second pass finds nothing.
    EXPECT_TRUE(run.Recover().runs.empty());
}

TEST(Recovery, AFinishedRunStillJournaledIsRolledBackWhole) {
    CutShortRun run({"a", "b"}, {{"a", "b"}, {"b", "c"}});
    run.Moved("b", "c");
    run.Moved("a", "b");
    EXPECT_TRUE(run.Recover().Complete());
    EXPECT_EQ(List(run.dir), run.before);
}

TEST(Recovery, SecondNamesLeftBetweenLinkAndUnlinkAreRemoved) {
    // Volumes without the no-replace flag move by link and unlink; a stop in
    // between leaves the file under two names.
    CutShortRun run({"a", "b", "c"}, {{"a", "x"}, {"b", "y"}, {"c", "a"}});
    run.Linked("a", "x");
    run.Linked("b", ".morx$7");
    run.Recover();
    EXPECT_EQ(List(run.dir), run.before);
    EXPECT_EQ(JournalCount(run.journals), 0u);
}

TEST(Recovery, AForeignFileOnAnOldNameIsNeverReplacedAndTheJournalStays) {
    CutShortRun run({"a", "b", "c"}, {{"a", "a2"}, {"b", "b2"}, {"c", "a"}});
    run.Moved("a", "a2");
    run.Moved("b", "b2");
    std::ofstream(run.dir.Path("a")) << "someone else's";

    const RecoveryReport report = run.Recover();
    ASSERT_EQ(report.runs.size(), 1u);
    EXPECT_FALSE(report.Complete());
    ASSERT_EQ(report.runs[0].unreturned.size(), 1u);
    EXPECT_EQ(report.runs[0].unreturned[0].oldPath, run.dir.Path("a"));
    EXPECT_EQ(report.runs[0].unreturned[0].at, run.dir.Path("a2"));
    EXPECT_EQ(report.runs[0].unreturned[0].error, EEXIST);
    EXPECT_EQ(TempDir::Read(run.dir.Path("a")), "someone else's");
    EXPECT_EQ(TempDir::Read(run.dir.Path("b")), "b");
    EXPECT_EQ(JournalCount(run.journals), 1u);

    // Once the user clears the way, the next start finishes the job.
    ASSERT_EQ(unlink(run.dir.Path("a").c_str()), 0);
    EXPECT_TRUE(run.Recover().Complete());
    EXPECT_EQ(List(run.dir), run.before);
    EXPECT_EQ(JournalCount(run.journals), 0u);
}

TEST(Recovery, AFileThatIsGoneIsNamedAndNothingElseIsTakenForIt) {
    CutShortRun run({"a", "b"}, {{"a", "x"}, {"b", "y"}});
    run.Moved("a", "x");
    // The file leaves the folder; a new one takes its new name.
    TempDir elsewhere;
    ASSERT_EQ(rename(run.dir.Path("x").c_str(), elsewhere.Path("x").c_str()), 0);
    std::ofstream(run.dir.Path("x")) << "a new file under the new name";

    const RecoveryReport report = run.Recover();
    ASSERT_EQ(report.runs.size(), 1u);
    ASSERT_EQ(report.runs[0].unreturned.size(), 1u);
    EXPECT_EQ(report.runs[0].unreturned[0].at, "");
    EXPECT_EQ(TempDir::Read(run.dir.Path("x")), "a new file under the new name");
    EXPECT_FALSE(std::filesystem::exists(run.dir.Path("a")));
    EXPECT_EQ(JournalCount(run.journals), 1u);
}

TEST(Recovery, AFileMadeAfterTheRunStartedIsNotTakenForOneOfItsFiles) {
    // Inode numbers are given out again: after the run stopped, its file
    // under "x" was deleted and a new file got the same number.
    TempDir dir, journals;
    std::ofstream(dir.Path("x")) << "new";
    struct statx st;
    ASSERT_EQ(statx(AT_FDCWD, dir.Path("x").c_str(), 0, STATX_INO | STATX_BTIME, &st), 0);
    if ((st.stx_mask & STATX_BTIME) == 0) GTEST_SKIP() << "the volume keeps no birth times";
    struct stat folder;
    ASSERT_EQ(stat(dir.bytes().c_str(), &folder), 0);
    JournalRecord record;
    record.pid = 1;
    record.started = st.stx_btime.tv_sec - 10;
    JournalFolder runFolder;
    runFolder.device = folder.st_dev;
    runFolder.path = dir.bytes();
    JournalFile file;
    file.identity.inode = st.stx_ino;
    file.identity.size = 3;
    file.oldName = "a";
    file.newName = "x";
    runFolder.files.push_back(file);
    record.folders.push_back(runFolder);
    std::ofstream(journals.Path("run-1-1-0.journal")) << FormatJournal(record);

    RealFileSystem fs;
    const RecoveryReport report = RecoverInterruptedRuns(journals.bytes(), fs);
    ASSERT_EQ(report.runs.size(), 1u);
    ASSERT_EQ(report.runs[0].unreturned.size(), 1u);
    EXPECT_EQ(TempDir::Read(dir.Path("x")), "new");
    EXPECT_FALSE(std::filesystem::exists(dir.Path("a")));
}

TEST(Recovery, ALiveRunIsLeftAlone) {
    TempDir dir, journals;
    dir.MakeFile("a");
    RealFileSystem disk;
    RunJournal live(journals.bytes(), disk);
    ASSERT_TRUE(live.Begin({dir.Path("a")}, {dir.Path("b")}));
    ASSERT_EQ(rename(dir.Path("a").c_str(), dir.Path("b").c_str()), 0);

    RealFileSystem fs;
    const RecoveryReport report = RecoverInterruptedRuns(journals.bytes(), fs);
    EXPECT_TRUE(report.runs.empty());
    ASSERT_EQ(report.liveRuns.size(), 1u);
    EXPECT_EQ(report.liveRuns[0], live.Path());
    EXPECT_TRUE(std::filesystem::exists(dir.Path("b")));
    EXPECT_TRUE(report.Complete());
}

TEST(Recovery, ADamagedJournalTouchesNoFileAndStays) {
    CutShortRun run({"a", "b"}, {{"a", "b"}, {"b", "c"}});
    run.Moved("b", "c");
    const std::string journal = std::filesystem::directory_iterator(run.journals.bytes())->path();
    const std::string text = TempDir::Read(journal);
    for (const std::string& damaged : {text.substr(0, text.size() / 2), std::string(),
                                       std::string("\x7f"
                                                   "ELF garbage"),
                                       text.substr(0, 40) + "X" + text.substr(41)}) {
        std::ofstream(journal, std::ios::binary | std::ios::trunc) << damaged;
        const RecoveryReport report = run.Recover();
        ASSERT_EQ(report.runs.size(), 1u);
        EXPECT_FALSE(report.runs[0].damage.empty());
        EXPECT_EQ(report.runs[0].journalPath, journal);
        EXPECT_FALSE(report.Complete());
        EXPECT_EQ(List(run.dir), (Listing{{"a", "a"}, {"c", "b"}}));
        EXPECT_EQ(JournalCount(run.journals), 1u);
    }
}

// A journaled run over one file per folder, a to b in each, cut short once
// every file had moved.
void CutAfterAllMoved(const TempDir& dir, const TempDir& journals,
                      const std::vector<std::string>& folders, std::vector<std::string>& oldPaths,
                      std::vector<std::string>& newPaths) {
    for (const std::string& folder : folders) {
        dir.MakeFolder(folder);
        oldPaths.push_back(dir.MakeFile(folder + "/a"));
        newPaths.push_back(dir.Path(folder + "/b"));
    }
    {
        RealFileSystem disk;
        RunJournal journal(journals.bytes(), disk);
        ASSERT_TRUE(journal.Begin(oldPaths, newPaths)) << journal.Error();
    }
    for (std::size_t i = 0; i < oldPaths.size(); ++i)
        ASSERT_EQ(rename(oldPaths[i].c_str(), newPaths[i].c_str()), 0);
}

// Once every file is home, the folders are flushed before the journal goes;
// where a folder's flush is one of its whole volume (vfat), once for the
// volume, not once per folder.
TEST(Recovery, AVolumeFlushedWholeIsFlushedOnceBeforeTheJournalGoes) {
    long syncs[2] = {};
    for (const bool wholeVolume : {false, true}) {
        SCOPED_TRACE(wholeVolume ? "flushed whole" : "flushed by folder");
        TempDir dir, journals;
        std::vector<std::string> oldPaths, newPaths;
        ASSERT_NO_FATAL_FAILURE(
            CutAfterAllMoved(dir, journals, {"d1", "d2", "d3"}, oldPaths, newPaths));

        TestFileSystem fs;
        fs.volumeSyncs = wholeVolume;
        const RecoveryReport report = RecoverInterruptedRuns(journals.bytes(), fs);
        EXPECT_TRUE(report.Complete());
        for (const std::string& path : oldPaths)
            EXPECT_TRUE(std::filesystem::exists(path)) << path;
        EXPECT_EQ(JournalCount(journals), 0u);
        syncs[wholeVolume] = fs.syncs;
    }
    // The same steps but for the folders' flushes: three against one.
    EXPECT_EQ(syncs[0] - syncs[1], 2);
}

// Whether a folder is still on the run's volume is asked once per device:
// telling a volume takes a probe of its device, too slow for every folder
// of a memory card.
TEST(Recovery, TheVolumeOfManyFoldersIsToldOnce) {
    TempDir dir, journals;
    std::vector<std::string> folders, oldPaths, newPaths;
    for (int i = 0; i < 20; ++i)
        folders.push_back("folder " + std::to_string(i));
    ASSERT_NO_FATAL_FAILURE(CutAfterAllMoved(dir, journals, folders, oldPaths, newPaths));

    TestFileSystem fs;
    EXPECT_TRUE(RecoverInterruptedRuns(journals.bytes(), fs).Complete());
    for (const std::string& path : oldPaths)
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(fs.volumeLookups.load(), 1);
}

// On a volume that may store another name than asked (vfat, exfat), the old
// names are looked for once per folder after the files went back, not after
// each move: on a memory card, recovery would otherwise read the whole folder
// once per file.
TEST(Recovery, OldNamesAreLookedForOncePerFolderNotOncePerMove) {
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> renames;
    for (int i = 0; i < 200; ++i) {
        files.push_back("IMG_" + std::to_string(i) + ".JPG");
        renames.emplace_back(files.back(), "trip_" + std::to_string(i) + ".jpg");
    }
    // And a swap cut short half way: one file parked, the other moved.
    files.insert(files.end(), {"s1", "s2"});
    renames.insert(renames.end(), {{"s1", "s2"}, {"s2", "s1"}});
    CutShortRun run(files, renames);
    for (std::size_t i = 0; i < 200; ++i)
        run.Moved(renames[i].first, renames[i].second);
    run.Moved("s1", ".morx$1");
    run.Moved("s2", "s1");

    TestFileSystem fs;
    fs.namesUnchecked = true;
    const RecoveryReport report = run.Recover(fs);
    ASSERT_EQ(report.runs.size(), 1u);
    EXPECT_TRUE(report.Complete());
    EXPECT_EQ(report.runs[0].returned, 202u);
    EXPECT_EQ(List(run.dir), run.before);
    EXPECT_EQ(JournalCount(run.journals), 0u);
    EXPECT_LE(fs.listings, 3);
}

// A parking name the folder does not list holds none of the files and is
// not looked up: on vfat, looking up a name that is not there searches the
// whole folder.
TEST(Recovery, ParkingNamesTheFolderDoesNotListAreNotLookedUp) {
    TempDir dir, journals;
    TestFileSystem fs;
    fs.dropsTrailingDots = true;
    // A rotation on a volume whose inode numbers are made up: every file
    // has a parking name, which for a name without an extension ends with
    // a dot that vfat drops.
    const std::vector<std::string> names = {"a", "b", "c"};
    std::vector<std::string> oldPaths, newPaths, parkNames;
    std::vector<FileIdentity> identities(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::ofstream(dir.Path(names[i])) << names[i];
        oldPaths.push_back(dir.Path(names[i]));
        newPaths.push_back(dir.Path(names[(i + 1) % names.size()]));
        parkNames.push_back(".morx$" + std::to_string(i + 1) + ".");
        ASSERT_EQ(fs.Identify(oldPaths[i], identities[i]), 0);
    }
    const std::vector<std::uint8_t> stable(names.size(), 0);
    {
        RunJournal journal(journals.bytes(), fs);
        const std::vector<std::string_view> from(oldPaths.begin(), oldPaths.end());
        const std::vector<std::string_view> to(newPaths.begin(), newPaths.end());
        ASSERT_TRUE(journal.Prepare({from, to, identities, parkNames, stable}) && journal.Commit())
            << journal.Error();
    }
    // Cut short once the first file was parked.
    ASSERT_EQ(rename(dir.Path("a").c_str(), dir.Path(".morx$1").c_str()), 0);

    std::vector<std::string> looked;
    fs.onIdentify = [&](const std::string& path) { looked.push_back(NameOf(path)); };
    EXPECT_TRUE(RecoverInterruptedRuns(journals.bytes(), fs).Complete());
    EXPECT_EQ(List(dir), (Listing{{"a", "a"}, {"b", "b"}, {"c", "c"}}));
    EXPECT_GT(std::count(looked.begin(), looked.end(), ".morx$1."), 0);
    EXPECT_EQ(std::count(looked.begin(), looked.end(), ".morx$2."), 0);
    EXPECT_EQ(std::count(looked.begin(), looked.end(), ".morx$3."), 0);
}

// A volume may store an old name otherwise than asked (vfat drops a trailing
// dot): that file does not count as returned, and the journal stays.
TEST(Recovery, AnOldNameTheVolumeAltersIsNotCountedAsReturned) {
    TempDir dir, journals;
    std::ofstream(dir.Path("a")) << "a";
    std::ofstream(dir.Path("b")) << "b";
    TestFileSystem fs;
    fs.dropsTrailingDots = true;
    {
        RunJournal journal(journals.bytes(), fs);
        ASSERT_TRUE(journal.Begin({dir.Path("a."), dir.Path("b")}, {dir.Path("c"), dir.Path("d")}))
            << journal.Error();
    }
    ASSERT_EQ(rename(dir.Path("a").c_str(), dir.Path("c").c_str()), 0);
    ASSERT_EQ(rename(dir.Path("b").c_str(), dir.Path("d").c_str()), 0);

    const RecoveryReport report = RecoverInterruptedRuns(journals.bytes(), fs);
    ASSERT_EQ(report.runs.size(), 1u);
    EXPECT_FALSE(report.Complete());
    EXPECT_EQ(report.runs[0].returned, 1u);
    ASSERT_EQ(report.runs[0].unreturned.size(), 1u);
    EXPECT_EQ(report.runs[0].unreturned[0].oldPath, dir.Path("a."));
    EXPECT_EQ(report.runs[0].unreturned[0].error, EINVAL);
    EXPECT_EQ(List(dir), (Listing{{"a", "a"}, {"b", "b"}}));
    EXPECT_EQ(JournalCount(journals), 1u);
    // The next start finds the file under its old name as far as the volume
    // can keep it, and the journal goes.
    EXPECT_TRUE(RecoverInterruptedRuns(journals.bytes(), fs).Complete());
    EXPECT_EQ(JournalCount(journals), 0u);
}

TEST(Recovery, AFolderNowOnAnotherDeviceIsNotTouched) {
    TempDir dir, journals;
    std::ofstream(dir.Path("a")) << "a";
    std::string path;
    {
        RealFileSystem disk;
        RunJournal journal(journals.bytes(), disk);
        ASSERT_TRUE(journal.Begin({dir.Path("a")}, {dir.Path("b")}));
        path = journal.Path();
    }
    ASSERT_EQ(rename(dir.Path("a").c_str(), dir.Path("b").c_str()), 0);
    // Rewrite the record as if another volume had been mounted there.
    auto record = std::get<JournalRecord>(ParseJournal(TempDir::Read(path)));
    record.folders[0].volume += "-another";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << FormatJournal(record);

    RealFileSystem fs;
    const RecoveryReport report = RecoverInterruptedRuns(journals.bytes(), fs);
    ASSERT_EQ(report.runs.size(), 1u);
    ASSERT_EQ(report.runs[0].unreturned.size(), 1u);
    EXPECT_EQ(report.runs[0].unreturned[0].error, kOtherVolume);
    EXPECT_TRUE(std::filesystem::exists(dir.Path("b")));
}

TEST(Recovery, AJournalLeftWhileBeingWrittenGoesWhenItsWriterIsGoneOrItIsOld) {
    TempDir journals;
    // Process 1 never ends; this test's own process is alive.
    const std::string self = "run-" + std::to_string(getpid()) + "-2-0.tmp";
    const std::string gone = "run-999999999-2-0.tmp";
    for (const std::string& name :
         {std::string("run-1-2-0.tmp"), std::string("run-1-3-0.tmp"), self, gone}) {
        std::ofstream(journals.Path(name)) << "morix run jou";
    }
    TempDir::SetModified(journals.Path("run-1-2-0.tmp"), 1000000000);
    RealFileSystem fs;
    const RecoveryReport report = RecoverInterruptedRuns(journals.bytes(), fs);
    EXPECT_TRUE(report.runs.empty());
    EXPECT_FALSE(std::filesystem::exists(journals.Path("run-1-2-0.tmp")));
    EXPECT_TRUE(std::filesystem::exists(journals.Path("run-1-3-0.tmp")));
    EXPECT_TRUE(std::filesystem::exists(journals.Path(self)));
    EXPECT_FALSE(std::filesystem::exists(journals.Path(gone)));
}

TEST(Recovery, ARecoveryThatFailsAtAnyCallCanBeFinishedByTheNext) {
    // Make every single call of the first recovery fail in turn; a second,
    // undisturbed recovery must then bring every file home.
    for (long failAt = 1;; ++failAt) {
        CutShortRun run({"c1", "c2", "s1", "s2", "r1", "r2", "r3"}, {{"c1", "c2"},
                                                                     {"c2", "c3"},
                                                                     {"s1", "s2"},
                                                                     {"s2", "s1"},
                                                                     {"r1", "r2"},
                                                                     {"r2", "r3"},
                                                                     {"r3", "r1"}});
        run.Moved("c2", "c3");
        run.Moved("c1", "c2");
        run.Moved("s1", ".morx$1");
        run.Moved("s2", "s1");
        run.Moved("r3", ".morx$2");
        run.Moved("r2", "r3");
        TestFileSystem faulty;
        faulty.failAt = failAt;
        run.Recover(faulty);
        // Nothing was lost or replaced: still seven files.
        ASSERT_EQ(List(run.dir).size(), 7u) << "failing call " << failAt;
        const RecoveryReport second = run.Recover();
        EXPECT_TRUE(second.Complete()) << "failing call " << failAt;
        EXPECT_EQ(List(run.dir), run.before) << "failing call " << failAt;
        EXPECT_EQ(JournalCount(run.journals), 0u);
        if (faulty.calls < failAt) break;  // the first recovery made fewer calls
    }
}

// A run on a vfat volume (inode numbers made up per mount, birth times to the
// hundredth of a second) cut short by a power cut in the middle of its
// renames, after fsck mended what the cut left. The run's files are in
// root/photos; root is the root of the volume.
class PowerCutOnVfat {
  public:
    explicit PowerCutOnVfat(const std::vector<std::pair<std::string, std::string>>& renames) {
        fs.inodesUnstable = true;
        fs.volumeRoot = root.bytes();
        // Both entries a cut leaves of one file show its birth time.
        fs.seenAs = [this](const std::string& path, FileIdentity& id) {
            const auto found = births.find(path.substr(path.rfind('/') + 1));
            if (found != births.end()) {
                id.btimeSec = found->second;
                id.btimeNsec = 370000000;
            }
        };
        folder = root.MakeFolder("photos");
        std::vector<std::string> oldPaths, newPaths;
        std::vector<FileIdentity> identities(renames.size());
        for (std::size_t i = 0; i < renames.size(); ++i) {
            const auto& [from, to] = renames[i];
            // Longer than the print's two spans, with a middle of its own.
            contents[from] = std::string(4096, 'a' + static_cast<char>(i)) + "middle of " + from +
                             std::string(4096, 'z' - static_cast<char>(i));
            std::ofstream(Path(from), std::ios::binary) << contents[from];
            TempDir::SetModified(Path(from), 1796400000 + 2 * static_cast<std::int64_t>(i));
            births[from] = births[to] = 1796500000 + static_cast<std::int64_t>(i);
            oldPaths.push_back(Path(from));
            newPaths.push_back(Path(to));
            EXPECT_EQ(fs.Identify(oldPaths.back(), identities[i]), 0);
        }
        const std::vector<std::uint8_t> stable(renames.size(), 0);
        RunJournal journal(journals.bytes(), fs);
        const std::vector<std::string_view> from(oldPaths.begin(), oldPaths.end());
        const std::vector<std::string_view> to(newPaths.begin(), newPaths.end());
        EXPECT_TRUE(journal.Prepare({from, to, identities, {}, stable}) && journal.Commit())
            << journal.Error();
    }

    std::string Path(const std::string& name) const { return folder + '/' + name; }

    void Moved(const std::string& from, const std::string& to) {
        ASSERT_EQ(rename(Path(from).c_str(), Path(to).c_str()), 0) << from << " " << to;
    }
    // Both entries stayed; fsck emptied the one at name, which kept the times
    // of the file now at whole (give or take some seconds).
    void Twin(const std::string& name, const std::string& whole, time_t seconds = 0) {
        std::ofstream(Path(name)).close();
        struct stat st;
        ASSERT_EQ(stat(Path(whole).c_str(), &st), 0);
        st.st_mtim.tv_sec += seconds;
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, Path(name).c_str(), times, 0), 0);
    }
    // Neither entry stayed; fsck kept the data as keptAs in the root, grown
    // by extra bytes to whole clusters, with the times of no file.
    void KeptByFsck(const std::string& name, const std::string& keptAs, std::size_t extra) {
        const std::string kept = root.Path(keptAs);
        ASSERT_EQ(rename(Path(name).c_str(), kept.c_str()), 0);
        std::ofstream(kept, std::ios::binary | std::ios::app) << std::string(extra, '\x5a');
        TempDir::SetModified(kept, 315532800);
    }

    RecoveryReport Recover() { return RecoverInterruptedRuns(journals.bytes(), fs); }

    TestFileSystem fs;
    TempDir root;
    TempDir journals;
    std::string folder;
    std::map<std::string, std::string> contents;  // by old name
    std::map<std::string, std::int64_t> births;   // by name
};

TEST(RecoveryAfterAPowerCutOnVfat, AnEmptiedTwinGoesWhicheverOfItsNamesItHolds) {
    PowerCutOnVfat cut({{"a", "x"}, {"b", "y"}, {"c", "w"}});
    cut.Moved("a", "x");
    cut.Twin("a", "x");  // the file's new entry came first in the folder
    cut.Twin("y", "b");  // its old one did
    cut.Moved("c", "w");

    const RecoveryReport report = cut.Recover();
    EXPECT_TRUE(report.Complete());
    Listing home;
    for (const auto& entry : std::filesystem::directory_iterator(cut.folder))
        home[entry.path().filename().string()] = TempDir::Read(entry.path().string());
    EXPECT_EQ(home, cut.contents);
    EXPECT_EQ(JournalCount(cut.journals), 0u);
}

TEST(RecoveryAfterAPowerCutOnVfat, AnEmptyFileWithOtherTimesIsNeverTakenForATwin) {
    PowerCutOnVfat cut({{"a", "x"}, {"b", "y"}});
    cut.Moved("a", "x");
    cut.Twin("a", "x", 2);  // another modification time
    cut.Twin("y", "b");
    cut.births["y"] += 1;  // another birth time

    const RecoveryReport report = cut.Recover();
    ASSERT_EQ(report.runs.size(), 1u);
    EXPECT_FALSE(report.Complete());
    ASSERT_EQ(report.runs[0].unreturned.size(), 1u);
    EXPECT_EQ(report.runs[0].unreturned[0].at, cut.Path("x"));
    EXPECT_EQ(report.runs[0].unreturned[0].error, EEXIST);
    EXPECT_EQ(TempDir::Read(cut.Path("a")), "");
    EXPECT_EQ(TempDir::Read(cut.Path("x")), cut.contents["a"]);
    EXPECT_EQ(TempDir::Read(cut.Path("b")), cut.contents["b"]);
    EXPECT_TRUE(std::filesystem::exists(cut.Path("y")));
    EXPECT_EQ(JournalCount(cut.journals), 1u);
}

TEST(RecoveryAfterAPowerCutOnVfat, DataFsckKeptInTheRootGoesBackAsTheFileItWas) {
    PowerCutOnVfat cut({{"a", "x"}, {"b", "y"}, {"c", "w"}});
    cut.KeptByFsck("a", "FSCK0000.REC", 120);
    cut.Moved("b", "y");
    cut.KeptByFsck("y", "fsck0001.rec", 0);  // cut back already by a recovery cut short
    struct stat before;
    ASSERT_EQ(stat(cut.Path("c").c_str(), &before), 0);
    cut.KeptByFsck("c", "FSCK0002.REC", 1000);
    // Kept data of another file, of the same size and clusters.
    std::string other = cut.contents["a"];
    other[other.size() - 5] = '!';
    std::ofstream(cut.root.Path("FSCK0003.REC"), std::ios::binary) << other;

    const RecoveryReport report = cut.Recover();
    EXPECT_TRUE(report.Complete());
    for (const std::string name : {"a", "b", "c"})
        EXPECT_EQ(TempDir::Read(cut.Path(name)), cut.contents[name]) << name;
    struct stat after;
    ASSERT_EQ(stat(cut.Path("c").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(TempDir::Read(cut.root.Path("FSCK0003.REC")), other);
    EXPECT_FALSE(std::filesystem::exists(cut.root.Path("FSCK0000.REC")));
    EXPECT_EQ(JournalCount(cut.journals), 0u);
}

TEST(RecoveryAfterAPowerCutOnVfat, KeptDataThatIsNotTheFilesIsNeverTouched) {
    PowerCutOnVfat cut({{"a", "x"}, {"b", "y"}});
    const std::string content = cut.contents["a"];
    TempDir elsewhere;
    ASSERT_EQ(rename(cut.Path("a").c_str(), elsewhere.Path("a").c_str()), 0);
    std::string tail = content;
    tail[content.size() - 1] = '!';
    const std::map<std::string, std::string> kept = {
        {"FSCK0000.REC", tail + std::string(200, 'z')},           // other content
        {"FSCK0001.REC", content + std::string(64 * 1024, 'z')},  // more than a cluster over
        {"FSCK0002.REC", content.substr(1)},                      // shorter than the file
        {"FSCK02.REC", content},                                  // not a name fsck gives
    };
    for (const auto& [name, bytes] : kept)
        std::ofstream(cut.root.Path(name), std::ios::binary) << bytes;
    std::ofstream(cut.Path("FSCK0003.REC"), std::ios::binary) << content;  // not in the root

    const RecoveryReport report = cut.Recover();
    ASSERT_EQ(report.runs.size(), 1u);
    ASSERT_EQ(report.runs[0].unreturned.size(), 1u);
    EXPECT_EQ(report.runs[0].unreturned[0].at, "");
    EXPECT_FALSE(std::filesystem::exists(cut.Path("a")));
    for (const auto& [name, bytes] : kept)
        EXPECT_EQ(TempDir::Read(cut.root.Path(name)), bytes);
    EXPECT_EQ(TempDir::Read(cut.Path("FSCK0003.REC")), content);
    EXPECT_EQ(JournalCount(cut.journals), 1u);
}

}  // namespace
}  // namespace morix
