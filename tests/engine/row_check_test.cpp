// The state of each preview row over real folders: what stands at each new
// name, which names a volume cannot hold, and agreement with the run that
// refuses by the same rules.
#include "engine/row_check.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/rename_run.h"
#include "engine/text.h"
#include "support/mounted_volume.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::MountedVolume;
using testing::TempDir;

// Rows of (old path, new name) and their check.
struct Rows {
    std::vector<std::u16string> oldPaths;
    std::vector<std::u16string> newNames;

    void Add(const std::string& oldPath, const std::u16string& newName) {
        oldPaths.push_back(DecodeFileName(oldPath));
        newNames.push_back(newName);
    }
    std::vector<RowCheck> Check(RowCheckScope scope = RowCheckScope::kAll,
                                FolderListings* listings = nullptr) const {
        RealFileSystem fs;
        return CheckRows(
            fs, oldPaths.size(), [&](std::size_t r) { return SplitPath(oldPaths[r]); },
            [&](std::size_t r) -> std::u16string_view { return newNames[r]; }, scope, listings);
    }
};

// prefix followed by n ("f12").
std::string Numbered(const char* prefix, int n) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%d", prefix, n);
    return name;
}

void ExpectRow(const RowCheck& check, RowState state, RowProblem problem, const char* what) {
    EXPECT_EQ(check.state, state) << what;
    EXPECT_EQ(check.problem, problem) << what;
}

TEST(RowCheck, EachStateOverARealFolder) {
    TempDir dir;
    Rows rows;
    rows.Add(dir.MakeFile("same.txt"), u"same.txt");
    rows.Add(dir.MakeFile("free.txt"), u"new.txt");
    dir.MakeFile("outsider.txt");
    rows.Add(dir.MakeFile("onto-file.txt"), u"outsider.txt");
    dir.MakeFolder("folder");
    rows.Add(dir.MakeFile("onto-folder.txt"), u"folder");
    ASSERT_EQ(symlink("nowhere", dir.Path("dangling").c_str()), 0);
    rows.Add(dir.MakeFile("onto-link.txt"), u"dangling");
    rows.Add(dir.MakeFile("onto-kept.txt"), u"same.txt");
    rows.Add(dir.MakeFile("dots.txt"), u"..");
    rows.Add(dir.MakeFile("dot.txt"), u".");
    rows.Add(dir.MakeFile("long.txt"), std::u16string(256, u'a'));
    // 85 Hangul syllables are 255 bytes, 86 are 258.
    rows.Add(dir.MakeFile("hangul85.txt"), std::u16string(85, u'\uAC00'));
    rows.Add(dir.MakeFile("hangul86.txt"), std::u16string(86, u'\uAC00'));
    rows.Add(dir.MakeFile("case.txt"), u"Case.txt");
    const std::vector<RowCheck> c = rows.Check();
    ExpectRow(c[0], RowState::kUnchanged, RowProblem::kNone, "same name");
    ExpectRow(c[1], RowState::kOk, RowProblem::kNone, "a free name");
    ExpectRow(c[2], RowState::kConflict, RowProblem::kTakenByFile, "a file outside the list");
    ExpectRow(c[3], RowState::kConflict, RowProblem::kTakenByFolder, "a folder");
    ExpectRow(c[4], RowState::kConflict, RowProblem::kTakenByLink, "a dangling link");
    ExpectRow(c[5], RowState::kConflict, RowProblem::kTakenByKeptName, "a row keeping its name");
    ExpectRow(c[6], RowState::kImpossible, RowProblem::kNotAFileName, "..");
    ExpectRow(c[7], RowState::kImpossible, RowProblem::kNotAFileName, ".");
    ExpectRow(c[8], RowState::kImpossible, RowProblem::kTooManyBytes, "256 bytes");
    ExpectRow(c[9], RowState::kOk, RowProblem::kNone, "255 bytes");
    ExpectRow(c[10], RowState::kImpossible, RowProblem::kTooManyBytes, "258 bytes");
    ExpectRow(c[11], RowState::kOk, RowProblem::kNone, "a change of case on an exact volume");

    const RowCounts counts = CountStates(c);
    EXPECT_EQ(counts.conflicts, 4u);
    EXPECT_EQ(counts.impossible, 4u);
    EXPECT_EQ(counts.unchanged, 1u);

    // Names only: nothing on disk is looked at beyond the volume's type.
    const std::vector<RowCheck> names = rows.Check(RowCheckScope::kNamesOnly);
    EXPECT_EQ(names[2].state, RowState::kOk);
    EXPECT_EQ(names[6].state, RowState::kImpossible);
    EXPECT_EQ(names[0].state, RowState::kUnchanged);
}

TEST(RowCheck, TargetsFreedByTheRunAreNoConflict) {
    TempDir dir;
    Rows rows;
    // A chain, a swap and a rotation: every target is the old name of a row
    // that moves away.
    rows.Add(dir.MakeFile("a"), u"b");
    rows.Add(dir.MakeFile("b"), u"c");
    rows.Add(dir.MakeFile("x"), u"y");
    rows.Add(dir.MakeFile("y"), u"x");
    rows.Add(dir.MakeFile("r1"), u"r2");
    rows.Add(dir.MakeFile("r2"), u"r3");
    rows.Add(dir.MakeFile("r3"), u"r1");
    for (const RowCheck& check : rows.Check())
        EXPECT_EQ(check.state, RowState::kOk);

    // Two rows wanting one name: the later one is the conflict.
    rows.Add(dir.MakeFile("p"), u"c2");
    rows.Add(dir.MakeFile("q"), u"c2");
    rows.Add(dir.MakeFile("s"), u"a");
    const std::vector<RowCheck> c = rows.Check();
    EXPECT_EQ(c[7].state, RowState::kOk);
    ExpectRow(c[8], RowState::kConflict, RowProblem::kTakenTwice, "second row for one name");
    EXPECT_EQ(c[9].state, RowState::kOk) << "a's old name is free once a moves to b";
}

TEST(RowCheck, ManyRowsInOneFolderAreCheckedAgainstOneListing) {
    TempDir dir;
    Rows rows;
    for (int i = 0; i < 200; ++i) {
        rows.Add(dir.MakeFile(Numbered("f", i)), DecodeFileName(Numbered("g", i)));
    }
    dir.MakeFile("g7");
    dir.MakeFolder("g8");
    ASSERT_EQ(symlink("nowhere", dir.Path("g9").c_str()), 0);
    rows.newNames[10] = u"f11";  // freed by row 11
    rows.newNames[12] = u"f12";  // unchanged
    rows.newNames[13] = u"f12";  // held by the unchanged row
    const std::vector<RowCheck> c = rows.Check();
    ExpectRow(c[7], RowState::kConflict, RowProblem::kTakenByFile, "file");
    ExpectRow(c[8], RowState::kConflict, RowProblem::kTakenByFolder, "folder");
    ExpectRow(c[9], RowState::kConflict, RowProblem::kTakenByLink, "link");
    EXPECT_EQ(c[10].state, RowState::kOk);
    EXPECT_EQ(c[12].state, RowState::kUnchanged);
    ExpectRow(c[13], RowState::kConflict, RowProblem::kTakenByKeptName, "kept");
    EXPECT_EQ(CountStates(c).conflicts, 4u);
}

TEST(RowCheck, StatesFollowTheDisk) {
    // One query per target, one listing per check, and a listing kept from
    // one check to the next.
    for (const auto& [files, keep] : {std::pair{3, false}, {100, false}, {100, true}}) {
        TempDir dir;
        Rows rows;
        for (int i = 0; i < files; ++i) {
            rows.Add(dir.MakeFile(Numbered("old", i)), DecodeFileName(Numbered("new", i)));
        }
        FolderListings kept;
        FolderListings* listings = keep ? &kept : nullptr;
        const auto state = [&](int row) {
            return rows.Check(RowCheckScope::kAll, listings)[static_cast<std::size_t>(row)].state;
        };
        EXPECT_EQ(CountStates(rows.Check(RowCheckScope::kAll, listings)).conflicts, 0u);
        dir.MakeFile("new1");
        EXPECT_EQ(state(1), RowState::kConflict) << files << keep;
        ASSERT_EQ(rename(dir.Path("new1").c_str(), dir.Path("new2").c_str()), 0);
        EXPECT_EQ(state(1), RowState::kOk) << files << keep;
        EXPECT_EQ(state(2), RowState::kConflict) << files << keep;
        ASSERT_EQ(unlink(dir.Path("new2").c_str()), 0);
        EXPECT_EQ(state(2), RowState::kOk) << files << keep;
    }
}

TEST(RowCheck, AKeptListingFollowsAFolderReplacedUnderItsName) {
    TempDir dir;
    const std::string folder = dir.MakeFolder("photos");
    Rows rows;
    for (int i = 0; i < 100; ++i) {
        rows.Add(dir.MakeFile("photos/" + Numbered("old", i)), DecodeFileName(Numbered("new", i)));
    }
    FolderListings listings;
    EXPECT_EQ(CountStates(rows.Check(RowCheckScope::kAll, &listings)).conflicts, 0u);
    // Another folder takes the name; it holds a file at a new name.
    ASSERT_EQ(rename(folder.c_str(), dir.Path("gone").c_str()), 0);
    dir.MakeFolder("photos");
    dir.MakeFile("photos/new5");
    EXPECT_EQ(rows.Check(RowCheckScope::kAll, &listings)[5].state, RowState::kConflict);
    dir.MakeFile("photos/new6");
    EXPECT_EQ(rows.Check(RowCheckScope::kAll, &listings)[6].state, RowState::kConflict)
        << "the new folder is watched too";
}

TEST(RowCheck, RowsInSeveralFoldersAreJudgedInTheirOwn) {
    TempDir dir;
    dir.MakeFolder("one");
    dir.MakeFolder("two");
    Rows rows;
    rows.Add(dir.MakeFile("one/a"), u"b");
    rows.Add(dir.MakeFile("two/b"), u"c");  // "b" is taken in two, not in one
    dir.MakeFile("two/c");
    rows.Add(dir.MakeFile("one/x"), u"c");
    const std::vector<RowCheck> c = rows.Check();
    EXPECT_EQ(c[0].state, RowState::kOk);
    EXPECT_EQ(c[1].state, RowState::kConflict);
    EXPECT_EQ(c[2].state, RowState::kOk);
}

TEST(RowCheck, ImpossibleNamesByTheVolumesRules) {
    const VolumeNameRules bytes;                    // ext4, xfs, tmpfs, ...
    const VolumeNameRules fat{0, 255, true, true, true, true};  // vfat
    const VolumeNameRules utf16{0, 255, false, false};
    struct Case {
        std::u16string name;
        RowProblem onBytes, onFat, onUtf16;
    } cases[] = {
        {u"a.txt", RowProblem::kNone, RowProblem::kNone, RowProblem::kNone},
        {u"..", RowProblem::kNotAFileName, RowProblem::kNotAFileName, RowProblem::kNotAFileName},
        {std::u16string(u"a\0b", 3), RowProblem::kNotAFileName, RowProblem::kNotAFileName,
         RowProblem::kNotAFileName},
        {u"name.", RowProblem::kNone, RowProblem::kTrailingDot, RowProblem::kNone},
        {u"tab\there", RowProblem::kNone, RowProblem::kControlCharacter, RowProblem::kNone},
        {u"name ", RowProblem::kNone, RowProblem::kTrailingSpace, RowProblem::kNone},
        {u" name", RowProblem::kNone, RowProblem::kNone, RowProblem::kNone},
        // A byte that is not UTF-8 (0xFF) in a name; a character outside the
        // BMP (two UTF-16 units) is UTF-8.
        {u"bad\xDCFF.txt", RowProblem::kNone, RowProblem::kNotUtf8, RowProblem::kNone},
        {u"\xDCFF" u"bad", RowProblem::kNone, RowProblem::kNotUtf8, RowProblem::kNone},
        {u"smile\xD83D\xDE00", RowProblem::kNone, RowProblem::kNone, RowProblem::kNone},
        {std::u16string(255, u'a'), RowProblem::kNone, RowProblem::kNone, RowProblem::kNone},
        {std::u16string(256, u'a'), RowProblem::kTooManyBytes, RowProblem::kTooManyUnits,
         RowProblem::kTooManyUnits},
        // 200 Hangul syllables: 600 bytes, 200 UTF-16 units.
        {std::u16string(200, u'\uAC00'), RowProblem::kTooManyBytes, RowProblem::kNone,
         RowProblem::kNone},
        // A byte that is not UTF-8 is one byte on disk: 255 of them fit.
        {std::u16string(255, u'\xDCFF'), RowProblem::kNone, RowProblem::kNotUtf8, RowProblem::kNone},
    };
    for (const Case& c : cases) {
        const std::string shown = EncodeFileName(c.name).substr(0, 20);
        EXPECT_EQ(ImpossibleNameProblem(c.name, bytes), c.onBytes) << shown;
        EXPECT_EQ(ImpossibleNameProblem(c.name, fat), c.onFat) << shown;
        EXPECT_EQ(ImpossibleNameProblem(c.name, utf16), c.onUtf16) << shown;
    }
    for (RowProblem p : {RowProblem::kTakenByFile, RowProblem::kNotAFileName}) {
        EXPECT_STRNE(ProblemText(p), "");
    }
    EXPECT_EQ(StateOf(RowProblem::kFolderUnreadable), RowState::kConflict);
    EXPECT_EQ(StateOf(RowProblem::kTrailingDot), RowState::kImpossible);
}

// The run is refused exactly when the check sees a target taken by a file
// outside the list.
TEST(RowCheck, AgreesWithTheRunsRefusal) {
    for (const bool taken : {false, true}) {
        TempDir dir;
        Rows rows;
        RenameJobs jobs;
        for (int i = 0; i < 5; ++i) {
            const std::string old = dir.MakeFile(Numbered("f", i));
            const std::u16string name = DecodeFileName(Numbered("f", i + 1));
            rows.Add(old, name);
            jobs.Add(old, dir.Path(Numbered("f", i + 1)));
        }
        if (taken) dir.MakeFile("f5");  // else the chain ends on a free name
        const RowCounts counts = CountStates(rows.Check());
        EXPECT_EQ(counts.conflicts, taken ? 1u : 0u);
        RenameProgress progress;
        progress.Begin(static_cast<int>(jobs.size()));
        RealFileSystem fs;
        EXPECT_EQ(RunRenameJobs(jobs, progress, fs),
                  taken ? RenameOutcome::kTargetExists : RenameOutcome::kRenamed);
    }
}

// exFAT through FUSE folds letter case and stores names as UTF-16.
TEST(RowCheck, CaseFoldingVolume) {
    MountedVolume volume("exfat");
    if (!volume.ok()) GTEST_SKIP() << volume.why();
    Rows rows;
    FILE* file = nullptr;
    for (const char* name : {"Outsider.txt", "a.txt", "x.txt", "k1.txt", "k2.txt"}) {
        file = std::fopen(volume.Path(name).c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    rows.Add(volume.Path("x.txt"), u"OUTSIDER.TXT");                  // the same name to the volume
    rows.Add(volume.Path("a.txt"), u"A.txt");                         // the file itself
    rows.Add(volume.Path("k1.txt"), std::u16string(100, u'\uAC00'));  // 300 bytes, 100 units
    rows.Add(volume.Path("k2.txt"), std::u16string(256, u'k'));
    const std::vector<RowCheck> c = rows.Check();
    ExpectRow(c[0], RowState::kConflict, RowProblem::kTakenByFile, "case-only clash");
    EXPECT_EQ(c[1].state, RowState::kOk) << "a change of case of the file itself";
    EXPECT_EQ(c[2].state, RowState::kOk) << "UTF-16 units count, not bytes";
    ExpectRow(c[3], RowState::kImpossible, RowProblem::kTooManyUnits, "256 units");
}

}  // namespace
}  // namespace morix
