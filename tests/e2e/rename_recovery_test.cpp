// Runs cut short for real: morix --rename killed at many moments, then
// morix --recover; a run caught alive; damaged journals.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::StartProcess;
using testing::TempDir;

using Listing = std::map<std::string, std::string>;  // name -> content

std::string Name(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "f%06d", number);
    return name;
}

// 2,000 files and a run over them that mixes a rotation of 600 files, 300
// swapped pairs and a chain of 800 whose first target is free. With
// "--sort none -t f######", the file named in the k-th place gets f(k).
class MixedRun {
  public:
    static constexpr int kRotation = 600, kSwapsEnd = 1200, kLast = 2000;

    MixedRun() {
        for (int n = 1; n <= kLast + 1; ++n) {
            if (n == kSwapsEnd + 1) continue;  // the free end of the chain
            std::ofstream(dir.Path(Name(n)), std::ios::binary) << Name(n);
            before[Name(n)] = Name(n);
        }
        args = {MORIX_BINARY, "--rename", "--sort", "none", "-t", "f######", "--"};
        for (int k = 1; k <= kLast; ++k) {
            int file;
            if (k <= kRotation) {
                file = k == kRotation ? 1 : k + 1;
            } else if (k <= kSwapsEnd) {
                file = (k - kRotation) % 2 == 1 ? k + 1 : k - 1;
            } else {
                file = k + 1;
            }
            args.push_back(dir.Path(Name(file)));
            after[Name(k)] = Name(file);
        }
    }

    Listing Read() const {
        Listing listing;
        for (const auto& entry : std::filesystem::directory_iterator(dir.bytes()))
            listing[entry.path().filename().string()] = TempDir::Read(entry.path().string());
        return listing;
    }

    TempDir dir{"/dev/shm"};
    std::vector<std::string> args;
    Listing before, after;
};

// Every test keeps its journals in a state folder of its own.
class RenameRecovery : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("XDG_STATE_HOME", state.bytes().c_str(), 1); }

    std::string JournalFolder() const { return state.Path("Vantorel/Trelvo Renamer/runs"); }
    // Journals in the journal folder (not the records of completed runs kept
    // beside them); with placedOnly, only journals in place, not one still
    // being written under its temporary name.
    std::size_t Journals(bool placedOnly = false) const {
        std::size_t count = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(JournalFolder(), ec)) {
            const auto extension = entry.path().extension();
            if (extension == ".journal" || (!placedOnly && extension == ".tmp")) ++count;
        }
        return count;
    }
    static ProcessResult Recover() { return RunProcess({MORIX_BINARY, "--recover"}); }

    TempDir state;
};

void SleepFor(std::chrono::microseconds delay) {
    const timespec ts{static_cast<time_t>(delay.count() / 1000000),
                      static_cast<long>(delay.count() % 1000000) * 1000};
    nanosleep(&ts, nullptr);
}

// How long a whole run takes here, to spread interruptions over it.
std::chrono::microseconds TimeWholeRun() {
    MixedRun run;
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult r = RunProcess(run.args);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(run.Read(), run.after);
    return whole;
}

TEST_F(RenameRecovery, KilledAtFiftyMomentsEveryFileComesBack) {
    const std::chrono::microseconds whole = TimeWholeRun();
    int rolledBack = 0;
    constexpr int kTrials = 50;
    // At least fifty kills; more while fewer than three caught a run in the
    // middle of its moves (a loaded machine shifts the moments).
    int trial = 0;
    for (; trial < kTrials || (rolledBack < 3 && trial < 4 * kTrials); ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        MixedRun run;
        const pid_t pid = StartProcess(run.args);
        SleepFor(whole * (trial % kTrials) / (kTrials - 5));  // the last few land after the end
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;

        const ProcessResult r = Recover();
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Listing listing = run.Read();
        if (r.err.find("was rolled back") != std::string::npos) ++rolledBack;
        // Back under the old names, or (the run had finished before the kill
        // came, journal already gone) all under the new ones.
        if (listing != run.before) {
            EXPECT_EQ(listing, run.after) << (finished ? "finished" : "killed") << "\n" << r.err;
            EXPECT_EQ(r.err.find("was rolled back"), std::string::npos);
        }
        EXPECT_EQ(Journals(), 0u);
    }
    std::printf("%d of %d trials killed a run in the middle of its moves (run: %lld us)\n",
                rolledBack, trial, static_cast<long long>(whole.count()));
    EXPECT_GE(rolledBack, 3) << "the kills never caught a run in the middle";
}

TEST_F(RenameRecovery, ASecondStartLeavesARunThatIsStillAliveAlone) {
    const std::chrono::microseconds whole = TimeWholeRun();
    for (int attempt = 0; attempt < 100; ++attempt) {
        MixedRun run;
        const pid_t pid = StartProcess(run.args);
        // Freeze the run at some moment, from its later half on; only one
        // caught with its journal written counts.
        SleepFor(whole / 2 + whole * (attempt % 10) / 20);
        kill(pid, SIGSTOP);
        int stopped = 0;
        waitpid(pid, &stopped, WUNTRACED);  // until it has really stopped (or ended)
        const bool caught = Journals(true) == 1;
        const Listing frozen = run.Read();
        if (caught) {
            const ProcessResult r = Recover();
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_NE(r.err.find("still in progress"), std::string::npos) << r.err;
            EXPECT_EQ(run.Read(), frozen) << "a live run's files were moved";
            // A --preview start does the same recovery step.
            const ProcessResult preview =
                RunProcess({MORIX_BINARY, "--preview", "-t", "x", run.dir.Path(Name(5))});
            EXPECT_EQ(preview.exitCode, 0);
            EXPECT_EQ(run.Read(), frozen);
        }
        kill(pid, SIGCONT);
        int status = stopped;
        if (WIFSTOPPED(stopped)) waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(run.Read(), run.after);
        EXPECT_EQ(Journals(), 0u);
        if (caught) return;
    }
    GTEST_SKIP() << "no attempt froze a run in the middle of its moves";
}

TEST_F(RenameRecovery, ADamagedJournalIsReportedAndTouchesNothing) {
    TempDir dir;
    std::ofstream(dir.Path("a")) << "a";
    std::filesystem::create_directories(JournalFolder());
    const std::string journal = JournalFolder() + "/run-1-2-0.journal";
    std::ofstream(journal) << "morix run journal 2\npid 1\nstarted 2\nfolder 1 1 1 0: 4:/tmp\n3 1:a";

    const ProcessResult r = Recover();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(journal), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot be read: the record is cut short"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(journal));

    // Other modes still work, and say the same on their way.
    const ProcessResult rename = RunProcess({MORIX_BINARY, "--rename", "-t", "b", dir.Path("a")});
    EXPECT_EQ(rename.exitCode, 0) << rename.err;
    EXPECT_NE(rename.err.find(journal), std::string::npos) << rename.err;
    EXPECT_EQ(TempDir::Read(dir.Path("b")), "a");
    EXPECT_TRUE(std::filesystem::exists(journal));
}

TEST_F(RenameRecovery, NothingToDoIsSaidAndExitsZero) {
    const ProcessResult r = Recover();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "morix: no rename run was cut short; nothing to do.\n");
    const ProcessResult extra = RunProcess({MORIX_BINARY, "--recover", "file"});
    EXPECT_EQ(extra.exitCode, 2);
}

}  // namespace
}  // namespace morix
