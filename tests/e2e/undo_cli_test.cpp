// morix --undo and --history as a whole program: runs of every shape taken
// back on the volume kinds the run itself is tested on (also after the
// volume was mounted again), the refusals that touch nothing, the
// newest-first rule, a second undo, damaged records, and the exit statuses.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/mounted_volume.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::MountedVolume;
using testing::ProcessResult;
using testing::RunProcess;
using testing::TempDir;

using Listing = std::map<std::string, std::string>;  // relative path -> content

Listing Read(const std::string& folder) {
    Listing listing;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(entry.path(), folder).string();
        if (name == "lost+found" || name.starts_with("lost+found/")) continue;
        listing[name] = entry.is_directory() ? "/" : TempDir::Read(entry.path().string());
    }
    return listing;
}

void Make(const std::string& folder, const Listing& listing) {
    std::filesystem::create_directories(folder);
    for (const auto& [name, content] : listing)
        std::ofstream(folder + "/" + name, std::ios::binary) << content;
}

ProcessResult Morix(std::vector<std::string> args) {
    args.insert(args.begin(), MORIX_BINARY);
    return RunProcess(args);
}

// The history's lines, split at tabs.
std::vector<std::vector<std::string>> History() {
    const ProcessResult r = Morix({"--history"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        lines.push_back(fields);
    }
    return lines;
}

class UndoCli : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("XDG_STATE_HOME", state_.bytes().c_str(), 1); }
    std::string Records() const { return state_.Path("Vantorel/Trelvo Renamer/runs"); }

    TempDir state_;
};

// A run of each shape in one folder, the files told apart by their sizes:
// a rotation and a swap, a chain, and changes of letter case only.
struct ShapeRun {
    const char* name;
    Listing before;
    std::vector<std::string> args;  // after --rename, before the files
    std::vector<std::string> files;
    Listing after;
};

std::vector<ShapeRun> Shapes() {
    return {
        {"rotation and swap",
         {{"f1", "1"}, {"f2", "22"}, {"f3", "333"}, {"f4", "4444"}, {"f5", "55555"}},
         {"--sort", "none", "-t", "f#"},
         {"f2", "f3", "f1", "f5", "f4"},
         {{"f1", "22"}, {"f2", "333"}, {"f3", "1"}, {"f4", "55555"}, {"f5", "4444"}}},
        {"chain",
         {{"1", "1"}, {"2", "22"}, {"3", "333"}},
         {"--sort", "none", "-t", "#", "--start", "2"},
         {"1", "2", "3"},
         {{"2", "1"}, {"3", "22"}, {"4", "333"}}},
        {"case only",
         {{"Photo.jpg", "1"}, {"notes.TXT", "22"}},
         {"--case", "lower"},
         {"Photo.jpg", "notes.TXT"},
         {{"photo.jpg", "1"}, {"notes.txt", "22"}}},
    };
}

class UndoOnVolumes : public UndoCli, public ::testing::WithParamInterface<std::string> {};

TEST_P(UndoOnVolumes, EveryShapeGoesBackAlsoAfterARemountAndOnlyOnce) {
    MountedVolume volume(GetParam());
    if (!volume.ok()) GTEST_SKIP() << GetParam() << " volume not available: " << volume.why();
    int id = 0;
    for (const ShapeRun& shape : Shapes()) {
        SCOPED_TRACE(shape.name);
        volume.Clear();
        const std::string top = volume.Path("top");
        Make(top, shape.before);
        std::vector<std::string> args = {"--rename"};
        args.insert(args.end(), shape.args.begin(), shape.args.end());
        args.push_back("--");
        for (const std::string& file : shape.files)
            args.push_back(top + "/" + file);
        const ProcessResult renamed = Morix(args);
        ASSERT_EQ(renamed.exitCode, 0) << renamed.err;
        ASSERT_EQ(Read(top), shape.after);
        ++id;
        // A volume mounted again numbers its files anew where it does not
        // keep inode numbers; tmpfs would lose them.
        if (GetParam() != "tmpfs") {
            ASSERT_TRUE(volume.Remount()) << volume.why();
        }
        const ProcessResult undone = Morix({"--undo"});
        EXPECT_EQ(undone.exitCode, 0) << undone.err;
        EXPECT_EQ(Read(top), shape.before) << undone.err;
        const ProcessResult twice = Morix({"--undo=" + std::to_string(id)});
        EXPECT_EQ(twice.exitCode, 3);
        EXPECT_NE(twice.err.find("already undone"), std::string::npos) << twice.err;
        EXPECT_EQ(Read(top), shape.before);
    }
    const ProcessResult nothing = Morix({"--undo"});
    EXPECT_EQ(nothing.exitCode, 4) << nothing.err;
}

INSTANTIATE_TEST_SUITE_P(Kinds, UndoOnVolumes, ::testing::Values("tmpfs", "ext4", "exfat", "ntfs"));

// A file renamed, deleted or replaced since the run, or an old name taken:
// the undo is refused, names the file, and moves nothing.
TEST_F(UndoCli, RefusesWhenAFileChangedNamesItAndTouchesNothing) {
    struct Case {
        const char* what;
        void (*change)(const TempDir& dir);
        std::string named;
    };
    const Case cases[] = {
        {"renamed",
         [](const TempDir& dir) { std::filesystem::rename(dir.Path("n2"), dir.Path("other")); },
         "n2"},
        {"deleted", [](const TempDir& dir) { std::filesystem::remove(dir.Path("n3")); }, "n3"},
        {"replaced by a file of the same name",
         [](const TempDir& dir) {
             std::filesystem::remove(dir.Path("n1"));
             std::ofstream(dir.Path("n1")) << "1";
         },
         "n1"},
        {"old name taken", [](const TempDir& dir) { std::ofstream(dir.Path("a")) << "new"; }, "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Make(dir.bytes(), {{"a", "1"}, {"b", "22"}, {"c", "333"}});
        const ProcessResult renamed = Morix({"--rename", "--sort", "none", "-t", "n#", "--",
                                             dir.Path("a"), dir.Path("b"), dir.Path("c")});
        ASSERT_EQ(renamed.exitCode, 0) << renamed.err;
        c.change(dir);
        const Listing changed = Read(dir.bytes());
        const ProcessResult r = Morix({"--undo"});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_NE(r.err.find(dir.Path(c.named) + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing was touched"), std::string::npos) << r.err;
        EXPECT_EQ(Read(dir.bytes()), changed);
        // The run stays kept, not undone.
        EXPECT_EQ(History().at(0).at(3), "done");
        std::filesystem::remove_all(Records());
    }
}

TEST_F(UndoCli, NewestFirstAndTheHistorySaysWhatWasUndone) {
    TempDir dir;
    Make(dir.bytes(), {{"a", "1"}, {"x", "22"}});
    ASSERT_EQ(Morix({"--rename", "-t", "b", "--", dir.Path("a")}).exitCode, 0);
    ASSERT_EQ(Morix({"--rename", "-t", "y", "--", dir.Path("x")}).exitCode, 0);  // other files
    ASSERT_EQ(Morix({"--rename", "-t", "c", "--", dir.Path("b")}).exitCode, 0);  // run 1's file
    auto lines = History();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].at(0), "3");
    EXPECT_EQ(lines[2].at(0), "1");
    EXPECT_EQ(lines[2].at(2), "1 file");
    EXPECT_EQ(lines[2].at(3), "done");
    EXPECT_EQ(lines[2].at(4), dir.bytes());
    EXPECT_EQ(lines[2].at(1).size(), std::string("2026-12-08 11:55:49").size());

    const ProcessResult older = Morix({"--undo=1"});
    EXPECT_EQ(older.exitCode, 3);
    EXPECT_NE(older.err.find("run 3"), std::string::npos) << older.err;
    EXPECT_EQ(Read(dir.bytes()), (Listing{{"c", "1"}, {"y", "22"}}));
    // A run that touched other files may go first.
    EXPECT_EQ(Morix({"--undo=2"}).exitCode, 0);
    EXPECT_EQ(Morix({"--undo"}).exitCode, 0);  // run 3
    EXPECT_EQ(Morix({"--undo"}).exitCode, 0);  // run 1
    EXPECT_EQ(Read(dir.bytes()), (Listing{{"a", "1"}, {"x", "22"}}));
    lines = History();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines)
        EXPECT_EQ(line.at(3), "undone");
    EXPECT_EQ(Morix({"--undo"}).exitCode, 4);
    EXPECT_EQ(Morix({"--undo=9"}).exitCode, 4);
}

TEST_F(UndoCli, ADamagedRecordIsReportedAndNeverActedOn) {
    TempDir dir;
    Make(dir.bytes(), {{"a", "1"}});
    ASSERT_EQ(Morix({"--rename", "-t", "b", "--", dir.Path("a")}).exitCode, 0);
    const std::string record = Records() + "/history-1.run";
    std::string text = TempDir::Read(record);
    ASSERT_FALSE(text.empty());
    text[text.find(dir.bytes())] ^= 2;  // the folder's path, under the checksum
    std::ofstream(record, std::ios::binary | std::ios::trunc) << text;
    const auto lines = History();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].at(1).rfind("damaged record: ", 0), 0u) << lines[0].at(1);
    const ProcessResult r = Morix({"--undo"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    EXPECT_EQ(Read(dir.bytes()), (Listing{{"b", "1"}}));
}

TEST_F(UndoCli, RefusedAndRolledBackRunsKeepNothingAndBadCommandLinesExitTwo) {
    TempDir dir;
    Make(dir.bytes(), {{"a", "1"}, {"taken", "2"}});
    EXPECT_EQ(Morix({"--rename", "-t", "taken", "--", dir.Path("a")}).exitCode, 3);
    const ProcessResult none = Morix({"--history"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(Morix({"--undo"}).exitCode, 4);
    EXPECT_EQ(Morix({"--undo=0"}).exitCode, 2);
    EXPECT_EQ(Morix({"--undo=x"}).exitCode, 2);
    EXPECT_EQ(Morix({"--undo", dir.Path("a")}).exitCode, 2);
    EXPECT_EQ(Morix({"--history=1"}).exitCode, 2);
    EXPECT_EQ(Morix({"--undo", "--rename", dir.Path("a")}).exitCode, 2);
}

}  // namespace
}  // namespace morix
