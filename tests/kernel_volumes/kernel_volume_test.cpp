// The rename run on volumes of the kernel's own drivers — vfat, exfat, ext4
// with a case-folding folder, ntfs3 with and without nocase — which answer
// differently from the FUSE stand-ins of the other volume tests on exactly
// the points a renamer depends on. Run inside the virtual machine of
// scripts/kernel-volumes, which mounts the volumes and names them in
// MORIX_KERNEL_VOLUMES ("kind:folder ..."); every case skips itself where its
// kind is not named there. MORIX_BINARY names the program for the
// command-line cases.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/rename_run.h"
#include "engine/row_check.h"
#include "engine/text.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::TempDir;
using Listing = std::map<std::string, std::string>;  // stored name -> content

struct Kind {
    const char* name;
    bool foldsCase;
    // Names the volume cannot hold as given.
    bool dropsTrailingDot, refusesTrailingSpace, refusesNonUtf8, countsBytes;
};

// The folder given for kind, or empty.
std::string MountOf(const std::string& kind) {
    const char* volumes = std::getenv("MORIX_KERNEL_VOLUMES");
    std::istringstream in(volumes ? volumes : "");
    for (std::string entry; in >> entry;) {
        const auto colon = entry.find(':');
        if (colon != std::string::npos && entry.substr(0, colon) == kind)
            return entry.substr(colon + 1);
    }
    return {};
}

// A fresh folder on the volume for one test, removed afterwards.
class VolumeFolder {
  public:
    VolumeFolder(const std::string& mount, const std::string& test) : path_(mount + "/" + test) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directory(path_);
    }
    ~VolumeFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

    std::string Path(const std::string& name) const { return path_ + "/" + name; }

    void Make(const std::vector<std::string>& names) const {
        for (const std::string& name : names)
            std::ofstream(Path(name), std::ios::binary) << name;
    }

    // Names as the volume stores them, read after the kernel has written
    // everything out and forgotten its cached entries.
    Listing Read() const {
        ::sync();
        std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
        Listing listing;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            listing[entry.path().filename().string()] = TempDir::Read(entry.path().string());
        return listing;
    }

    RenameOutcome Rename(const std::vector<std::pair<std::string, std::string>>& renames) const {
        RenameJobs jobs;
        for (const auto& [from, to] : renames) jobs.Add(Path(from), Path(to));
        RealFileSystem fs;
        RenameProgress progress;
        progress.Begin(static_cast<int>(jobs.size()));
        return RunRenameJobs(jobs, progress, fs);
    }

    // What the check before a run says of giving file from the name to.
    RowCheck Check(const std::string& from, const std::string& to) const {
        RealFileSystem fs;
        const std::u16string oldPath = DecodeFileName(Path(from)), newName = DecodeFileName(to);
        return CheckRows(
            fs, 1, [&](std::size_t) { return SplitPath(oldPath); },
            [&](std::size_t) -> std::u16string_view { return newName; })[0];
    }

  private:
    std::string path_;
};

class KernelVolume : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        mount_ = MountOf(GetParam().name);
        if (mount_.empty()) GTEST_SKIP() << GetParam().name << " is not mounted here";
    }
    std::string mount_;
};

TEST_P(KernelVolume, CaseChangesSwapsAndRotationsKeepEveryFile) {
    const VolumeFolder dir(mount_, "case");
    dir.Make({"a.txt", "photo.JPG", "b", "x.txt", "y.txt", "p", "q", "r"});

    EXPECT_EQ(dir.Rename({{"a.txt", "A.txt"}, {"photo.JPG", "Photo.jpg"}}),
              RenameOutcome::kRenamed);
    // A swap and a rotation through parking names, and a change of case, in
    // one run.
    EXPECT_EQ(dir.Rename({{"x.txt", "y.txt"},
                          {"y.txt", "x.txt"},
                          {"p", "q"},
                          {"q", "r"},
                          {"r", "p"},
                          {"b", "B"}}),
              RenameOutcome::kRenamed);
    EXPECT_EQ(dir.Read(), (Listing{{"A.txt", "a.txt"},
                                   {"B", "b"},
                                   {"Photo.jpg", "photo.JPG"},
                                   {"p", "r"},
                                   {"q", "p"},
                                   {"r", "q"},
                                   {"x.txt", "y.txt"},
                                   {"y.txt", "x.txt"}}));
}

// Where the volume folds case, a target that is another spelling of another
// file's name is taken, even when that file moves away in the same run: the
// run is refused before anything moves, as on the FUSE volumes.
TEST_P(KernelVolume, ATargetThatDiffersFromAnotherFileOnlyInCaseIsTakenWhereCaseFolds) {
    const VolumeFolder dir(mount_, "taken");
    dir.Make({"a.txt", "b.txt", "c", "x", "y"});
    const Listing before = dir.Read();

    const RenameOutcome outcome = dir.Rename({{"c", "d"}, {"b.txt", "A.TXT"}});
    const RenameOutcome swap = dir.Rename({{"x", "Y"}, {"y", "X"}});
    if (GetParam().foldsCase) {
        EXPECT_EQ(dir.Check("b.txt", "A.TXT").problem, RowProblem::kTakenByFile);
        EXPECT_EQ(outcome, RenameOutcome::kTargetExists);
        EXPECT_EQ(swap, RenameOutcome::kTargetExists);
        EXPECT_EQ(dir.Read(), before);
    } else {
        EXPECT_EQ(outcome, RenameOutcome::kRenamed);
        EXPECT_EQ(swap, RenameOutcome::kRenamed);
        EXPECT_EQ(
            dir.Read(),
            (Listing{{"A.TXT", "b.txt"}, {"X", "y"}, {"Y", "x"}, {"a.txt", "a.txt"}, {"d", "c"}}));
    }
}

// Names some volume refuses or stores otherwise (a trailing dot or space,
// bytes that are not UTF-8, 255 UTF-16 units in more than 255 bytes): the
// check before the run calls each one the volume cannot hold as given
// impossible, so that no run starts with it; a run started anyway puts every
// file back. Every other name is stored exactly as given.
TEST_P(KernelVolume, ANameIsStoredAsGivenOrRefusedBeforeAnythingMoves) {
    const std::string dot = "dot.", space = "space ", invalid = "bad\xff.txt";
    std::string units;  // 255 UTF-16 units, 510 bytes
    for (int i = 0; i < 255; ++i)
        units += "\xc3\xa9";
    const std::string tooMany = units + "x";
    std::string astral;  // 127 characters outside the BMP and one more: 255 units
    for (int i = 0; i < 127; ++i)
        astral += "\xf0\x9f\x98\x80";
    astral += "y";

    const Kind& kind = GetParam();
    const std::pair<std::string, bool> names[] = {
        {dot, kind.dropsTrailingDot},
        {space, kind.refusesTrailingSpace},
        {invalid, kind.refusesNonUtf8},
        {units, kind.countsBytes},
        {tooMany, true},
        {astral, kind.countsBytes},
    };
    for (const auto& [name, impossible] : names) {
        SCOPED_TRACE(DecodeFileName(name).size());
        const VolumeFolder dir(mount_, "names");
        dir.Make({"a", "b", "c"});
        const Listing before = dir.Read();
        const RowCheck check = dir.Check("b", name);
        const RenameOutcome outcome = dir.Rename({{"a", "a1"}, {"b", name}, {"c", "c1"}});
        const Listing after = dir.Read();
        std::printf("%s: %s -> %s\n", GetParam().name,
                    name.size() > 12 ? "(long name)" : name.c_str(),
                    check.state == RowState::kImpossible ? ProblemText(check.problem)
                    : outcome == RenameOutcome::kRenamed ? "stored"
                                                         : "refused by the volume");
        EXPECT_EQ(check.state == RowState::kImpossible, impossible) << ProblemText(check.problem);
        if (check.state == RowState::kImpossible) {
            // The run itself, started anyway, puts every file back.
            EXPECT_NE(outcome, RenameOutcome::kRenamed);
            EXPECT_EQ(after, before);
        } else {
            EXPECT_EQ(check.state, RowState::kOk) << ProblemText(check.problem);
            EXPECT_EQ(outcome, RenameOutcome::kRenamed)
                << "the check let a name pass that the volume refuses";
            EXPECT_EQ(after, (Listing{{"a1", "a"}, {name, "b"}, {"c1", "c"}}));
        }
    }
}

// The command line refuses a name the volume cannot hold with the message of
// every impossible name, and moves nothing; a name it can hold is stored.
TEST_P(KernelVolume, TheCommandLineNamesAnImpossibleNameBeforeMoving) {
    const char* morix = std::getenv("MORIX_BINARY");
    if (morix == nullptr) GTEST_SKIP() << "MORIX_BINARY not set";
    const VolumeFolder dir(mount_, "cli");
    dir.Make({"a", "b"});
    const Listing before = dir.Read();
    const RowCheck check = dir.Check("b", "b.");
    const ProcessResult r = RunProcess({morix, "--rename", "--sort", "none", "-t", "<N>.",
                                        "--ext=", dir.Path("a"), dir.Path("b")});
    if (check.state == RowState::kImpossible) {
        EXPECT_EQ(r.exitCode, 3) << r.err;
        EXPECT_EQ(r.err, "morix: impossible: " + dir.Path("a") + " -> a.: " +
                             ProblemText(check.problem) + "\nmorix: impossible: " + dir.Path("b") +
                             " -> b.: " + ProblemText(check.problem) + "\n");
        EXPECT_EQ(dir.Read(), before);
    } else {
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(dir.Read(), (Listing{{"a.", "a"}, {"b.", "b"}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, KernelVolume,
                         ::testing::Values(Kind{"vfat", true, true, true, true, false},
                                           Kind{"exfat", true, true, false, true, false},
                                           Kind{"ext4-casefold", true, false, false, false, true},
                                           Kind{"ntfs3", false, false, false, true, false},
                                           Kind{"ntfs3-nocase", true, false, false, true, false}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 c = c == '-' ? '_' : c;
                             return name;
                         });

}  // namespace
}  // namespace morix
