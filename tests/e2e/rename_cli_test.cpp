// morix --rename as a whole program: the files on disk afterwards, the exit
// statuses 0, 1, 2 and 3, the messages and --verbose.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/media_samples.h"
#include "support/run_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::TempDir;

using Listing = std::map<std::string, std::string>;  // name -> content

ProcessResult Rename(std::vector<std::string> args, const std::string& workDir = {}) {
    args.insert(args.begin(), {MORIX_BINARY, "--rename"});
    return RunProcess(args, workDir);
}

// Files whose contents are their names.
void MakeFiles(const TempDir& dir, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        std::ofstream(dir.Path(name), std::ios::binary) << name;
    }
}

Listing ReadListing(const TempDir& dir) {
    Listing listing;
    for (const auto& entry : std::filesystem::directory_iterator(dir.bytes())) {
        listing[entry.path().filename().string()] =
            entry.is_directory() ? "<dir>" : TempDir::Read(entry.path().string());
    }
    return listing;
}

TEST(RenameCli, RenamesEveryFileAndSwapsNamesItNeedsItself) {
    TempDir dir;
    MakeFiles(dir, {"1.txt", "2.txt", "3.txt", "notes.md"});
    // Descending order numbers 3.txt as 1 and 1.txt as 3: the two trade names.
    const ProcessResult r = Rename({"--verbose", "--descending", "-t", "#", "--dir", dir.bytes()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(
        ReadListing(dir),
        (Listing{
            {"1.md", "notes.md"}, {"2.txt", "3.txt"}, {"3.txt", "2.txt"}, {"4.txt", "1.txt"}}));
    const std::string& d = dir.bytes();
    EXPECT_EQ(r.out, d + "/notes.md -> " + d + "/1.md\n" + d + "/3.txt -> " + d + "/2.txt\n" + d +
                         "/2.txt -> " + d + "/3.txt\n" + d + "/1.txt -> " + d + "/4.txt\n");
}

TEST(RenameCli, DateTakenNamesTheFilesAsThePreviewShows) {
    const testing::ScopedEnv zone("TZ", "KST-9");
    TempDir dir;
    testing::WriteJpeg(dir.Path("IMG_1.JPG"), testing::TakenAt("2015:03:04 05:06:07"));
    dir.MakeFile("IMG_2.JPG", 10);
    TempDir::SetModified(dir.Path("IMG_2.JPG"), 1'600'000'000);  // 2020-09-13 here
    const std::vector<std::string> options = {"--date-source", "taken", "-t",
                                              "<YYYYMMDD>_#",  "-d",    dir.bytes()};
    std::vector<std::string> preview = {MORIX_BINARY, "--preview"};
    preview.insert(preview.end(), options.begin(), options.end());
    const ProcessResult shown = RunProcess(preview);
    EXPECT_EQ(shown.out, "IMG_1.JPG\t20150304_1.JPG\t" + dir.bytes() +
                             "\nIMG_2.JPG\t20200913_2.JPG\t" + dir.bytes() + "\n");
    const ProcessResult r = Rename(options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Listing after = ReadListing(dir);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after.count("20150304_1.JPG"), 1u);
    EXPECT_EQ(after.at("20200913_2.JPG"), "xxxxxxxxxx");
}

TEST(RenameCli, UnchangedNamesSucceedWithoutOutput) {
    TempDir dir;
    MakeFiles(dir, {"a.txt", "b.txt"});
    const Listing before = ReadListing(dir);
    const ProcessResult r = Rename({"--verbose", dir.Path("a.txt"), dir.Path("b.txt")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadListing(dir), before);
}

TEST(RenameCli, ATargetTakenByAnotherFileRefusesTheWholeRun) {
    TempDir dir;
    MakeFiles(dir, {"a.txt", "b.txt", "photo2.txt"});
    dir.MakeFolder("photo3.txt");
    const Listing before = ReadListing(dir);
    const std::string message =
        "morix: There is already a file with the same name in this location.\n";
    // photo2.txt is not part of the run.
    ProcessResult r = Rename({"-t", "photo#", dir.Path("a.txt"), dir.Path("b.txt")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, message);
    EXPECT_EQ(ReadListing(dir), before);
    // A folder takes a name as well.
    r = Rename({"-t", "photo#", "--start", "3", dir.Path("a.txt")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, message);
    EXPECT_EQ(ReadListing(dir), before);
}

TEST(RenameCli, AnotherFileWhoseNameDiffersOnlyInCaseIsTaken) {
    TempDir dir;
    MakeFiles(dir, {"a.txt", "A.txt", "b.txt"});
    const Listing before = ReadListing(dir);
    // a.txt -> A.txt, but A.txt is another file, not in the list.
    ProcessResult r = Rename({"--case", "name-upper", dir.Path("a.txt"), dir.Path("b.txt")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "morix: There is already a file with the same name in this location.\n");
    EXPECT_EQ(ReadListing(dir), before);
    // Lower case is free: a change of case only.
    r = Rename({"--case", "lower", dir.Path("A.txt")});
    EXPECT_EQ(r.exitCode, 3);  // a.txt is another file
    r = Rename({"--case", "upper", dir.Path("b.txt")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadListing(dir),
              (Listing{{"a.txt", "a.txt"}, {"A.txt", "A.txt"}, {"B.TXT", "b.txt"}}));
}

TEST(RenameCli, NamesNoVolumeCanHoldAreRefusedBeforeAnythingMoves) {
    TempDir dir;
    MakeFiles(dir, {"a.txt", "b.txt"});
    const Listing before = ReadListing(dir);
    ProcessResult r = Rename({"-t", "..", "--ext=", dir.Path("a.txt")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "morix: impossible: " + dir.Path("a.txt") + " -> ..: not a file name\n");
    EXPECT_EQ(ReadListing(dir), before);
    // 255 bytes fit.
    r = Rename({"-t", std::string(251, 'x'), dir.Path("a.txt")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(RenameCli, AFileThatCannotMoveRollsEveryFileBack) {
    TempDir dir;
    const std::string longName(250, 'n');
    MakeFiles(dir, {"a", "b", longName, "c", "d"});
    const Listing before = ReadListing(dir);
    // The long name grows past what a name may hold: the run is refused
    // before the files ahead of it move, naming the row and the reason.
    const ProcessResult r =
        Rename({"--sort", "none", "-t", "<N>.renamed#", dir.Path("a"), dir.Path("b"),
                dir.Path(longName), dir.Path("c"), dir.Path("d")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "morix: impossible: " + dir.Path(longName) + " -> " + longName +
                         ".renamed3: longer than 255 bytes\n");
    EXPECT_EQ(ReadListing(dir), before);

    // A file made unmovable for real.
    const std::string locked = dir.Path("c");
    const int fd = open(locked.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int flags = 0;
    const bool set = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                     (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    const ProcessResult s = set ? Rename({"-t", "b", "--dir", dir.bytes()}) : ProcessResult{};
    if (set) {
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    close(fd);
    if (!set) {
        GTEST_SKIP() << "cannot set the immutable attribute (needs root on tmpfs or ext4)";
    }
    EXPECT_EQ(s.exitCode, 1);
    EXPECT_EQ(s.err, "morix: Unable to rename the file.\nmorix: cannot rename " + locked + " to " +
                         dir.Path("b_3") + ": Operation not permitted\n");
    EXPECT_EQ(ReadListing(dir), before);
}

// Every missing PATH and unreadable FOLDER is named before any file moves.
TEST(RenameCli, MissingPathsAndUnreadableFoldersStopTheRunBeforeItMoves) {
    TempDir dir;
    MakeFiles(dir, {"a", "b"});
    ASSERT_EQ(::symlink("gone", dir.Path("dangling").c_str()), 0);
    const Listing before = ReadListing(dir);
    const ProcessResult r =
        Rename({"--sort", "none", "-t", "x#", dir.Path("a"), dir.Path("gone"), "-d",
                dir.Path("missing"), "--dir", dir.Path("a"), dir.Path("dangling"), dir.Path("b")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "morix: cannot find '" + dir.Path("gone") +
                         "': No such file or directory\n"
                         "morix: cannot read folder '" +
                         dir.Path("missing") +
                         "': No such file or directory\n"
                         "morix: cannot read folder '" +
                         dir.Path("a") + "': Not a directory\n");
    EXPECT_EQ(ReadListing(dir), before);

    // A link whose target is gone is still a file of its own to rename.
    const ProcessResult s = Rename({"-t", "x", dir.Path("dangling")});
    EXPECT_EQ(s.exitCode, 0) << s.err;
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("x"), ec));
}

// An empty PATH is no name for the current folder.
TEST(RenameCli, EmptyPathIsRefusedAndTheCurrentFolderKeepsItsName) {
    TempDir dir;
    const std::string work = dir.MakeFolder("work");
    const ProcessResult r = Rename({"-t", "IMG_#", ""}, work);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.find("morix: an empty PATH"), 0u) << r.err;
    EXPECT_EQ(ReadListing(dir), (Listing{{"work", "<dir>"}}));
}

// A file named in several ways is renamed once, not moved away and then
// looked for again under another spelling.
TEST(RenameCli, OneFileUnderSeveralSpellingsIsRenamedOnce) {
    TempDir dir;
    dir.MakeFolder("real");
    std::ofstream(dir.Path("real/2.txt")) << "two";
    ASSERT_EQ(::symlink("real", dir.Path("link").c_str()), 0);
    const ProcessResult r =
        Rename({"--verbose", "-t", "x#", dir.Path("real/2.txt"), dir.Path("real//2.txt"),
                dir.Path("link/2.txt"), dir.Path("real/../real/./2.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, dir.Path("real/2.txt") + " -> " + dir.Path("real/x1.txt") + "\n");
    EXPECT_EQ(TempDir::Read(dir.Path("real/x1.txt")), "two");
    EXPECT_FALSE(std::filesystem::exists(dir.Path("real/2.txt")));
}

TEST(RenameCli, BadCommandLinesExitWithTwoAndTouchNothing) {
    TempDir dir;
    MakeFiles(dir, {"a"});
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"--no-such-option", dir.Path("a")}, {"--start", "zero", dir.Path("a")}}) {
        const ProcessResult r = Rename(args);
        EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("morix: "), std::string::npos);
    }
    EXPECT_EQ(ReadListing(dir), (Listing{{"a", "a"}}));
}

}  // namespace
}  // namespace morix
