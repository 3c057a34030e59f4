// --regex and --preset of the headless modes as a whole program: groups in
// the replacement, patterns that cannot be used or that are stopped, names
// that are not UTF-8, and presets with options that override them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::ScopedEnv;
using testing::TempDir;

ProcessResult Morix(std::vector<std::string> args) {
    args.insert(args.begin(), MORIX_BINARY);
    return RunProcess(args);
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

TEST(RegexCli, GroupsReorderTheName) {
    TempDir dir;
    dir.MakeFile("20240131_beach.jpg");
    dir.MakeFile("notes.txt");
    const ProcessResult r =
        Morix({"--preview", "--regex", "--find", "^(\\d{4})(\\d{2})(\\d{2})_(.*)$", "--replace",
               "$1-$2-$3 $4", "--dir", dir.bytes()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "20240131_beach.jpg\t2024-01-31 beach.jpg\t" + dir.bytes() + "\n" +
                         "notes.txt\tnotes.txt\t" + dir.bytes() + "\n");
    // Without --regex the same text is found literally, so nothing matches.
    const ProcessResult plain =
        Morix({"--preview", "--find", "^(\\d{4})", "--replace", "x", "--dir", dir.bytes()});
    EXPECT_EQ(plain.out.substr(0, plain.out.find('\n')),
              "20240131_beach.jpg\t20240131_beach.jpg\t" + dir.bytes());
}

TEST(RegexCli, PatternThatCannotBeUsedIsABadCommandLine) {
    TempDir dir;
    const std::string file = dir.MakeFile("abc.txt");
    for (const char* mode : {"--preview", "--rename"}) {
        ProcessResult r = Morix({mode, "--regex", "--find", "(a", "--replace", "b", file});
        EXPECT_EQ(r.exitCode, 2) << mode;
        EXPECT_NE(r.err.find("--find is not a valid regular expression: missing closing "
                             "parenthesis (at character 3)"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
        r = Morix({mode, "--regex", "--find", "(a)", "--replace", "${year}", file});
        EXPECT_EQ(r.exitCode, 2) << mode;
        EXPECT_NE(r.err.find("--replace cannot be used with the regular expression: the "
                             "expression has no group of that name (at character 1)"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_TRUE(Exists(file));
}

// A pattern that backtracks without end is stopped on that name: the preview
// says so and fails, the rename touches nothing.
TEST(RegexCli, CatastrophicPatternIsStoppedAndNothingMoves) {
    TempDir dir;
    const std::string slow = dir.MakeFile(std::string(60, 'a') + "!");
    const std::string quick = dir.MakeFile("b.txt");
    const std::vector<std::string> options = {"--regex", "--find", "^(a+)+$|b", "--replace",
                                              "c",       "--dir",  dir.bytes()};
    std::vector<std::string> args = {"--preview"};
    args.insert(args.end(), options.begin(), options.end());
    ProcessResult r = Morix(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("b.txt\tc.txt\t"), std::string::npos);
    EXPECT_NE(r.err.find("took too long on 1 name(s)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(slow), std::string::npos) << r.err;

    args[0] = "--rename";
    r = Morix(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Exists(slow));
    EXPECT_TRUE(Exists(quick));
}

TEST(RegexCli, UndecodableBytesSurviveTheRename) {
    TempDir dir;
    dir.MakeFile("caf\xE9_2024.txt");
    const ProcessResult r = Morix({"--rename", "--regex", "--find", "^(.*)_(\\d{4})", "--replace",
                                   "$2 $1", "--dir", dir.bytes()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Exists(dir.Path("2024 caf\xE9.txt")));
}

class PresetCli : public ::testing::Test {
  protected:
    void WritePresets(const std::string& text) {
        const std::string folder = config_.MakeFolder("Vantorel");
        std::ofstream(folder + "/Trelvo Renamer presets.conf") << text;
    }

    TempDir config_;
    ScopedEnv configHome_{"XDG_CONFIG_HOME", config_.bytes()};
    TempDir files_;
};

TEST_F(PresetCli, PresetFirstThenTheOtherOptionsOverIt) {
    WritePresets(
        "Preset=sz:\"Zeros\"\n"
        "Template=sz:\"photo_##\"\n"
        "Start=dword:5\n"
        "Regex=dword:1\n"
        "Find=sz:\"o(?=t)\"\n"
        "Replace=sz:\"0\"\n");
    files_.MakeFile("a.jpg");
    ProcessResult r = Morix({"--preview", "--preset", "Zeros", "--dir", files_.bytes()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "a.jpg\tph0to_05.jpg\t" + files_.bytes() + "\n");
    // Options override the preset wherever they stand.
    r = Morix(
        {"--preview", "--start", "7", "--preset=Zeros", "-t", "shot_#", "--dir", files_.bytes()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "a.jpg\tsh0t_7.jpg\t" + files_.bytes() + "\n");
}

TEST_F(PresetCli, UnknownNameListsThePresets) {
    WritePresets("Preset=sz:\"One\"\nPreset=sz:\"Two\"\n");
    const std::string file = files_.MakeFile("a.jpg");
    const ProcessResult r = Morix({"--rename", "--preset", "Three", file});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "morix: there is no preset named 'Three'; the presets are:\n  One\n  Two\n");
    EXPECT_TRUE(Exists(file));
}

TEST_F(PresetCli, DamagedLinesAreNamedAndTheRestIsUsed) {
    WritePresets("Preset=sz:\"Up\"\nCase=dword:1\nStart=dword:oops\n");
    files_.MakeFile("a.jpg");
    const ProcessResult r = Morix({"--preview", "--preset", "Up", "--dir", files_.bytes()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "a.jpg\tA.JPG\t" + files_.bytes() + "\n");
    EXPECT_NE(r.err.find("line 3 cannot be read and is left out: Start=dword:oops"),
              std::string::npos)
        << r.err;
}

TEST_F(PresetCli, PresetWithAPatternThatCannotBeUsed) {
    WritePresets("Preset=sz:\"Bad\"\nRegex=dword:1\nFind=sz:\"[\"\n");
    const ProcessResult r = Morix({"--preview", "--preset", "Bad", files_.MakeFile("a.jpg")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("morix: with preset 'Bad': --find is not a valid regular expression"),
              std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace morix
