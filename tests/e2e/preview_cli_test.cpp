// morix --preview as a whole program: options, row order, exit codes,
// messages and the NUL-separated output.
#include <gtest/gtest.h>
#include <unistd.h>

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

ProcessResult Preview(std::vector<std::string> args, const std::string& workDir = {}) {
    args.insert(args.begin(), {MORIX_BINARY, "--preview"});
    return RunProcess(args, workDir);
}

TEST(PreviewCli, PrintsRowsSortedNaturallyWithSequenceNumbers) {
    TempDir dir;
    dir.MakeFile("file10.txt");
    dir.MakeFile("file2.txt");
    dir.MakeFile("B.txt");
    dir.MakeFolder("sub");
    const ProcessResult r = Preview({"-t", "photo_##", "--dir", dir.bytes()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string& d = dir.bytes();
    EXPECT_EQ(r.out, "B.txt\tphoto_01.txt\t" + d + "\n" + "file2.txt\tphoto_02.txt\t" + d + "\n" +
                         "file10.txt\tphoto_03.txt\t" + d + "\n");
    EXPECT_EQ(r.err, "");
}

TEST(PreviewCli, KeepsTheGivenOrderAndSkipsDuplicates) {
    TempDir dir;
    const std::string b = dir.MakeFile("b.jpg");
    const std::string a = dir.MakeFile("a.jpg");
    const ProcessResult r =
        Preview({"--sort", "none", "-t", "#", "--start", "10", "--step", "5", b, a, b});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "b.jpg\t10.jpg\t" + dir.bytes() + "\na.jpg\t15.jpg\t" + dir.bytes() + "\n");
}

TEST(PreviewCli, TransformationsAndDescendingOrder) {
    TempDir dir;
    dir.MakeFile("Holiday 1.JPEG");
    dir.MakeFile("Holiday 2.JPEG");
    const ProcessResult r = Preview({"--dir", dir.bytes(), "--descending", "--ext", "jpg", "--case",
                                     "upper", "--find", "holiday ", "--replace", "trip-"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Holiday 2.JPEG\ttrip-2.JPG\t" + dir.bytes() +
                         "\nHoliday 1.JPEG\ttrip-1.JPG\t" + dir.bytes() + "\n");
    // Case-sensitive find no longer matches the upper-cased name.
    const ProcessResult s = Preview({"--dir", dir.bytes(), "--case", "1", "--find", "holiday",
                                     "--replace", "x", "--case-sensitive", "--sort", "name"});
    EXPECT_EQ(s.out, "Holiday 1.JPEG\tHOLIDAY 1.JPEG\t" + dir.bytes() +
                         "\nHoliday 2.JPEG\tHOLIDAY "
                         "2.JPEG\t" +
                         dir.bytes() + "\n");
}

TEST(PreviewCli, RelativePathsAreMadeAbsolute) {
    TempDir dir;
    dir.MakeFolder("in");
    dir.MakeFile("in/x.txt");
    const ProcessResult r = Preview({"--", "in/x.txt", "./in/"}, dir.bytes());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "in\tin\t" + dir.bytes() + "\nx.txt\tx.txt\t" + dir.Path("in") + "\n");
}

// One file named in several ways is one row in its real folder; a missing
// file keeps its row, in its folder written without "//" and ".".
TEST(PreviewCli, SpellingsOfOneFileGiveOneRow) {
    TempDir dir;
    dir.MakeFolder("real");
    dir.MakeFile("real/2.txt");
    ASSERT_EQ(::symlink("real", dir.Path("link").c_str()), 0);
    const ProcessResult r =
        Preview({"--sort", "none", "real/2.txt", "real//2.txt", "link/2.txt", "real/../real/2.txt",
                 "missing//x", "missing/./x", dir.Path("real/./2.txt")},
                dir.bytes());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "2.txt\t2.txt\t" + dir.Path("real") + "\nx\tx\t" + dir.Path("missing") + "\n");
    EXPECT_EQ(r.err, "");
}

TEST(PreviewCli, NamesThatAreNotUtf8SurviveAsBytes) {
    TempDir dir;
    dir.MakeFile("caf\xe9.txt");
    const ProcessResult r = Preview({"-0", "--dir", dir.bytes(), "-t", "<N>-#"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string expected =
        std::string("caf\xe9.txt") + '\0' + "caf\xe9-1.txt" + '\0' + dir.bytes() + '\0';
    EXPECT_EQ(r.out, expected);
}

TEST(PreviewCli, BadCommandLinesExitWithTwoAndOneLine) {
    struct Case {
        std::vector<std::string> args;
        std::string mentions;
    };
    const Case cases[] = {
        {{"--bogus", "/x"}, "--bogus"},        {{"--start"}, "--start"},
        {{"--start", "0", "/x"}, "--start"},   {{"--step", "100000000", "/x"}, "--step"},
        {{"--start", "12abc", "/x"}, "12abc"}, {{"--case", "title", "/x"}, "--case"},
        {{"--sort", "date", "/x"}, "--sort"},  {{"-t", "x"}, "PATH"},
        {{"--check=1", "/x"}, "--check"},      {{"/x", ""}, "empty PATH"},
        {{"--date-source", "x", "/x"}, "'x'"}, {{"/x", "--date-source"}, "value"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = Preview(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args[0];
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("morix: "), 0u) << r.err;
    }
}

TEST(PreviewCli, CheckNamesConflictsAndImpossibleNamesAndExitsThree) {
    TempDir dir;
    dir.MakeFile("a.txt");
    dir.MakeFile("b.txt");
    dir.MakeFile("taken.txt");
    const std::string& d = dir.bytes();
    const std::vector<std::string> files = {"--sort", "none", dir.Path("a.txt"), dir.Path("b.txt")};
    std::vector<std::string> args = {"-t", "taken"};
    args.insert(args.end(), files.begin(), files.end());
    const std::string plain = "a.txt\ttaken.txt\t" + d + "\nb.txt\ttaken_2.txt\t" + d + "\n";

    ProcessResult r = Preview(args);
    EXPECT_EQ(r.exitCode, 0) << "without --check, as before";
    EXPECT_EQ(r.out, plain);
    EXPECT_EQ(r.err, "");

    args.push_back("--check");
    r = Preview(args);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, plain);
    EXPECT_EQ(r.err, "conflict: a.txt -> taken.txt: taken by a file not in the list\n");

    r = Preview({"--check", "--sort", "none", "-t", "..", "--ext=", dir.Path("a.txt")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "impossible: a.txt -> ..: not a file name\n");

    // A chain within the list and a row that keeps its name are fine.
    r = Preview({"--check", "--sort", "none", "-t", "b", dir.Path("a.txt")});
    EXPECT_EQ(r.exitCode, 3) << "b.txt is not in the list";
    r = Preview({"--check", "-t", "<N>", "--dir", d});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(PreviewCli, VerboseAddsTheStateOfEachRow) {
    TempDir dir;
    dir.MakeFile("a.txt");
    dir.MakeFile("b.txt");
    dir.MakeFile("c.txt");
    const std::string& d = dir.bytes();
    // a keeps its name, b takes c's, c moves to a free one.
    const ProcessResult r = Preview({"--verbose", "--sort", "none", "--find", "b", "--replace", "a",
                                     dir.Path("a.txt"), dir.Path("b.txt")});
    EXPECT_EQ(r.exitCode, 0) << "--verbose alone never fails on a row";
    EXPECT_EQ(r.out, "a.txt\ta.txt\t" + d + "\tunchanged\nb.txt\ta_2.txt\t" + d + "\tok\n");
    EXPECT_EQ(r.err, "");
    const ProcessResult s = Preview(
        {"--verbose", "-0", "--sort", "none", "--find", "b", "--replace", "c", dir.Path("b.txt")});
    EXPECT_EQ(s.out, std::string("b.txt") + '\0' + "c.txt" + '\0' + d + '\0' + "conflict" + '\0');
    const ProcessResult t =
        Preview({"--verbose", "--sort", "none", "-t", "..", "--ext=", dir.Path("c.txt")});
    EXPECT_EQ(t.out, "c.txt\t..\t" + d + "\timpossible\n");
}

TEST(PreviewCli, UnreadableFolderIsReportedAndSkipped) {
    TempDir dir;
    const std::string file = dir.MakeFile("x.txt");
    const ProcessResult r = Preview({"--dir", dir.Path("missing"), file});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "x.txt\tx.txt\t" + dir.bytes() + "\n");
    EXPECT_EQ(r.err.find("morix: cannot read folder '" + dir.Path("missing") + "'"), 0u) << r.err;
}

TEST(PreviewCli, AcceptsEmptyExtensionAndNumericCaseModes) {
    TempDir dir;
    dir.MakeFile("a.txt");
    dir.MakeFile("a.doc");
    const ProcessResult r = Preview({"--ext=", "--dir", dir.bytes(), "--case", "7"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "a.doc\tA\t" + dir.bytes() + "\na.txt\tA_2\t" + dir.bytes() + "\n");
}

// Photos and a clip named and ordered by when they were taken; a file
// without a capture date takes its modified time, as every file does by
// default.
TEST(PreviewCli, DateTakenNamesAndSortsPhotosAndVideos) {
    const testing::ScopedEnv zone("TZ", "KST-9");
    TempDir dir;
    testing::WriteJpeg(dir.Path("DSC1.JPG"), testing::TakenAt("2021:06:01 12:00:00"));
    testing::WriteBytes(dir.Path("MOV1.MP4"), testing::MovieBytes(3'705'523'200u, false));
    testing::WriteBytes(dir.Path("notes.txt"), "no date inside\n");
    for (const char* name : {"DSC1.JPG", "MOV1.MP4", "notes.txt"})
        TempDir::SetModified(dir.Path(name), 1'600'000'000);  // 2020-09-13 21:26:40 here

    const std::string d = dir.bytes();
    const ProcessResult taken = Preview(
        {"--date-source", "taken", "--sort", "mtime", "-t", "<YYYY-MM-DD_HHmmss>", "-d", d});
    ASSERT_EQ(taken.exitCode, 0) << taken.err;
    // The clip: 2021-06-03 00:00:00 UTC.
    EXPECT_EQ(taken.out, "notes.txt\t2020-09-13_212640.txt\t" + d + "\n" +
                             "DSC1.JPG\t2021-06-01_120000.JPG\t" + d + "\n" +
                             "MOV1.MP4\t2021-06-03_090000.MP4\t" + d + "\n");

    const ProcessResult modified = Preview({"--sort", "mtime", "-t", "<YYYY-MM-DD>", "-d", d});
    EXPECT_EQ(modified.out, "DSC1.JPG\t2020-09-13.JPG\t" + d + "\n" + "MOV1.MP4\t2020-09-13.MP4\t" +
                                d + "\n" + "notes.txt\t2020-09-13.txt\t" + d + "\n");
    EXPECT_EQ(
        Preview({"--date-source=modified", "--sort", "mtime", "-t", "<YYYY-MM-DD>", "-d", d}).out,
        modified.out);
}

}  // namespace
}  // namespace morix
