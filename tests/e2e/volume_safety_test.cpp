// Rename runs on real volumes, cut or held at chosen system calls: strace
// kills morix --rename at the n-th call of a kind (or holds it there) while
// the test unmounts, swaps or changes what lies beneath, then morix --recover
// has to bring files home without ever taking one file for another. Needs
// root, strace, loop devices, /dev/fuse and the tools of e2fsprogs, exfatprogs,
// exfat-fuse and ntfs-3g; each case skips itself with a message where
// something it needs is missing.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "support/mounted_volume.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::DropCaches;
using testing::MountedVolume;
using testing::Nap;
using testing::ProcessResult;
using testing::RunProcess;
using testing::Shell;
using testing::ShellOutput;
using testing::TempDir;

using Listing = std::map<std::string, std::string>;  // relative path -> content
using Plan = std::map<std::string, std::string>;     // old name -> new name

constexpr char kMoveCalls[] = "renameat2,rename,renameat,link,linkat,unlink,unlinkat";
constexpr char kParking[] = ".morx$";

std::string StracePath() {
    static const std::string path = ShellOutput("command -v strace");
    return path;
}

// Files below folder with their contents, and folders (as "name/").
Listing Read(const std::string& folder) {
    Listing listing;
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = fs::relative(it->path(), folder).string();
        if (name == "lost+found") {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_directory()) {
            listing[name + "/"] = "";
        } else {
            listing[name] = TempDir::Read(it->path().string());
        }
    }
    return listing;
}

bool IsParking(const std::string& path) {
    const auto slash = path.rfind('/');
    return path.compare(slash == std::string::npos ? 0 : slash + 1, 6, kParking) == 0;
}

std::string Show(const Listing& listing) {
    std::string text;
    for (const auto& [name, content] : listing)
        text += "  " + name + (content.empty() ? "" : " = " + content) + "\n";
    return text;
}

// strace and its options that every traced run shares: follow threads,
// trace the calls that move files, write the trace to output. A sanitizer
// build's leak check cannot work under ptrace, so the traced program gets
// it turned off (the untraced runs of the suite still check for leaks).
std::vector<std::string> StraceArgs(const std::string& output) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = asan && *asan ? std::string(asan) + ":" : std::string();
    options += "detect_leaks=0";
    return {StracePath(), "-f", "-o", output, "-E", "ASAN_OPTIONS=" + options,
            "-e", std::string("trace=") + kMoveCalls};
}

// The argument list of morix under strace, with one -e inject=... rule.
std::vector<std::string> Traced(const std::vector<std::string>& args, const std::string& inject) {
    std::vector<std::string> argv = StraceArgs("/dev/null");
    argv.insert(argv.end(), {"-e", "inject=" + inject, MORIX_BINARY});
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// A place where a run can be cut: on entry of the n-th call of that kind
// made by one thread (strace counts per call and per thread).
struct KillPoint {
    std::string call;
    int n;
    std::string Inject() const { return call + ":signal=SIGKILL:when=" + std::to_string(n); }
    std::string Describe() const { return "killed at " + call + " #" + std::to_string(n); }
};

// Whether a line of strace's output ends with the result 0.
bool Succeeded(const std::string& line) {
    const auto equals = line.rfind(" = ");
    return equals != std::string::npos && line.compare(equals + 3, std::string::npos, "0") == 0;
}

// Runs morix with args under strace once, whole, and lists a kill point
// before every call that changed something (each succeeded), so the kills
// fall between every two steps of the run.
std::vector<KillPoint> KillPointsOf(const std::vector<std::string>& args, ProcessResult* whole) {
    const TempDir scratch;
    const std::string trace = scratch.Path("trace");
    std::vector<std::string> argv = StraceArgs(trace);
    argv.push_back(MORIX_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult r = RunProcess(argv);
    if (whole) *whole = r;
    std::map<std::string, std::map<std::string, int>> counts;  // thread -> call -> count
    std::map<std::string, KillPoint> pending;                  // thread -> unfinished call
    std::vector<KillPoint> points;
    std::istringstream lines(TempDir::Read(trace));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string thread, rest;
        words >> thread;
        std::getline(words, rest);
        rest.erase(0, rest.find_first_not_of(' '));
        if (rest.rfind("<... ", 0) == 0) {  // "<... call resumed>) = 0"
            const auto it = pending.find(thread);
            if (it == pending.end()) continue;
            if (Succeeded(rest)) points.push_back(it->second);
            pending.erase(it);
            continue;
        }
        const auto paren = rest.find('(');
        if (paren == std::string::npos) continue;
        const std::string call = rest.substr(0, paren);
        if (call.find_first_of(" +<") != std::string::npos) continue;
        const KillPoint point{call, ++counts[thread][call]};
        if (rest.find("<unfinished ...>") != std::string::npos) {
            pending[thread] = point;
        } else if (Succeeded(rest)) {
            points.push_back(point);
        }
    }
    return points;
}

// Waits until a thread of a process traced by the strace process tracer
// sits in the given system call (held there by delay_enter). A call that is
// not held can be caught on its way through as well (the tracer stops it on
// entry and exit): a thread counts as held once it is seen in the call on
// two looks 100 ms apart, far longer than any call that is not held takes.
bool WaitUntilHeldIn(pid_t tracer, long call, int timeoutMs) {
    const std::string number = std::to_string(call);
    const auto threadsInCall = [&] {
        std::set<std::string> found;
        std::ifstream children("/proc/" + std::to_string(tracer) + "/task/" +
                               std::to_string(tracer) + "/children");
        for (std::string child; children >> child;) {
            std::error_code ec;
            for (const auto& task :
                 std::filesystem::directory_iterator("/proc/" + child + "/task", ec)) {
                std::ifstream in(task.path() / "syscall");
                std::string first;
                if (in >> first && first == number) found.insert(task.path().string());
            }
        }
        return found;
    };
    std::set<std::string> seen;
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        const std::set<std::string> now = threadsInCall();
        for (const std::string& thread : now)
            if (seen.contains(thread)) return true;
        seen = now;
        Nap(100);
    }
    return false;
}

// A process started in the background whose output is kept.
class Background {
  public:
    explicit Background(const std::vector<std::string>& argv) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT, 0600);
        pid_ = testing::Spawn(argv, actions);
    }
    ~Background() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Finish();
        }
    }
    pid_t pid() const { return pid_; }
    ProcessResult Finish() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        ProcessResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = TempDir::Read(out_);
        result.err = TempDir::Read(err_);
        return result;
    }

  private:
    TempDir files_;
    std::string out_ = files_.Path("out"), err_ = files_.Path("err");
    pid_t pid_ = 0;
};

// Five files in a folder: f1..f3 rotate (f2 -> f1, f3 -> f2, f1 -> f3) and
// f4, f5 swap. Each file's content names it.
struct RotationRun {
    explicit RotationRun(std::string folder_, std::string mark = "") : folder(std::move(folder_)) {
        for (int k = 1; k <= 5; ++k) {
            const std::string name = "f" + std::to_string(k);
            before[name] = mark + "content of " + name;
        }
        const char* order[] = {"f2", "f3", "f1", "f5", "f4"};
        args = {"--rename", "--sort", "none", "-t", "f#", "--"};
        for (int k = 0; k < 5; ++k) {
            args.push_back(folder + "/" + order[k]);
            after["f" + std::to_string(k + 1)] = before[order[k]];
            newName[order[k]] = "f" + std::to_string(k + 1);
        }
    }
    void Make() const {
        std::filesystem::create_directories(folder);
        for (const auto& [name, content] : before)
            std::ofstream(folder + "/" + name, std::ios::binary) << content;
    }

    std::string folder;
    std::vector<std::string> args;
    Listing before, after;
    Plan newName;  // old name -> new name
};

// What is wrong with a folder after a recovery that could not finish: every
// file of the run is there once, under its old name, its new name or a
// parking name, and nothing else is there. Empty when nothing is wrong.
std::string NoFileUnderAnotherName(const Listing& listing, const RotationRun& run) {
    std::string problems;
    std::map<std::string, int> seen;
    for (const auto& [name, content] : listing) {
        std::string home;
        for (const auto& [old, text] : run.before)
            if (text == content) home = old;
        if (home.empty()) {
            problems += name + " holds something that is not a file of the run\n";
            continue;
        }
        ++seen[home];
        if (name != home && name != run.newName.at(home) && !IsParking(name))
            problems += "the file of " + home + " is under " + name + ", a name not its own\n";
    }
    for (const auto& [old, text] : run.before)
        if (seen[old] != 1)
            problems +=
                "the file of " + old + " is there " + std::to_string(seen[old]) + " times\n";
    return problems;
}

class VolumeSafety : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("XDG_STATE_HOME", state_.bytes().c_str(), 1); }

    // Skips the test (returns false) where root or strace is missing.
    static bool Needs(bool strace) {
        if (geteuid() != 0) return false;
        return !strace || !StracePath().empty();
    }
    static std::string Missing() { return "needs root and strace (package strace)"; }

    std::string JournalFolder() const {
        const char* home = std::getenv("XDG_STATE_HOME");
        return std::string(home ? home : "") + "/Vantorel/Trelvo Renamer/runs";
    }
    std::size_t Journals() const {
        std::size_t count = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(JournalFolder(), ec))
            if (entry.path().extension() == ".journal") ++count;
        return count;
    }
    void ForgetJournals() const {
        std::error_code ec;
        std::filesystem::remove_all(JournalFolder(), ec);
    }
    static ProcessResult Recover() { return RunProcess({MORIX_BINARY, "--recover"}); }

    TempDir state_;
};

#define SKIP_UNLESS(condition, why) \
    do {                            \
        if (!(condition)) {         \
            GTEST_SKIP() << why;    \
        }                           \
    } while (false)

// ---------------------------------------------------------------------------
// exFAT through FUSE hands out new inode numbers after a remount or once its
// inodes are dropped from the cache: numbers in a journal then name nothing,
// or another file.

class UnstableInodes : public VolumeSafety, public ::testing::WithParamInterface<std::string> {};

TEST_P(UnstableInodes, RecoveryNeverPutsAFileUnderAnotherFilesName) {
    SKIP_UNLESS(Needs(true), Missing());
    MountedVolume volume("exfat");
    SKIP_UNLESS(volume.ok(), "exfat volume not available: " << volume.why());
    const RotationRun run(volume.Path("run"));
    run.Make();
    ProcessResult whole;
    const std::vector<KillPoint> points = KillPointsOf(run.args, &whole);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    ASSERT_EQ(Read(run.folder), run.after);
    ASSERT_GE(points.size(), 8u);

    for (const KillPoint& point : points) {
        SCOPED_TRACE(point.Describe());
        ForgetJournals();
        volume.Clear();
        run.Make();
        // The run starts on a fresh mount, as on a stick just plugged in.
        ASSERT_TRUE(volume.Remount());
        RunProcess(Traced(run.args, point.Inject()));
        if (GetParam() == "remount") {
            ASSERT_TRUE(volume.Remount());
        } else {
            ASSERT_TRUE(DropCaches());
        }
        const ProcessResult r = Recover();
        const Listing listing = Read(run.folder);
        if (r.exitCode == 0) {
            // Cut after its journal was marked finished, the run stays done.
            EXPECT_TRUE(listing == run.before || listing == run.after)
                << "exit 0, but the files are neither all home nor all renamed\n"
                << Show(listing) << r.err;
            EXPECT_EQ(Journals(), 0u);
        } else {
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_EQ(NoFileUnderAnotherName(listing, run), "") << Show(listing) << r.err;
            EXPECT_EQ(Journals(), 1u) << "a recovery that did not finish keeps the journal";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(After, UnstableInodes, ::testing::Values("remount", "dropped-caches"));

// ---------------------------------------------------------------------------
// Another volume mounted where the run's volume was, on the same loop device
// and so with the same device number: its files look like the run's.

class SameDeviceOtherVolume : public VolumeSafety,
                              public ::testing::WithParamInterface<std::string> {};

TEST_P(SameDeviceOtherVolume, IsLeftAloneAndTheRunComesBackWithItsOwnVolume) {
    SKIP_UNLESS(Needs(true), Missing());
    MountedVolume volume(GetParam());
    SKIP_UNLESS(volume.ok(), GetParam() << " volume not available: " << volume.why());
    const int other = volume.AddImage();
    ASSERT_GE(other, 0) << volume.why();
    const RotationRun runA(volume.Path("photos"), "A: ");
    const RotationRun runB(volume.Path("photos"), "B: ");

    runA.Make();
    ProcessResult whole;
    const std::vector<KillPoint> points = KillPointsOf(runA.args, &whole);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    volume.Clear();
    runA.Make();
    const dev_t device = volume.Device();
    ASSERT_TRUE(volume.UseImage(other)) << volume.why();
    SKIP_UNLESS(volume.Device() == device, "the second image got another device number");
    runB.Make();
    ASSERT_TRUE(volume.UseImage(0)) << volume.why();

    // Cut in the middle of its moves.
    ASSERT_GE(points.size(), 3u);
    const KillPoint middle = points[points.size() / 2];
    RunProcess(Traced(runA.args, middle.Inject()));
    ASSERT_EQ(Journals(), 1u) << middle.Describe();
    const Listing cut = Read(runA.folder);
    ASSERT_NE(cut, runA.before) << middle.Describe() << " moved nothing";

    ASSERT_TRUE(volume.UseImage(other)) << volume.why();
    ASSERT_EQ(volume.Device(), device) << "the other image is not under the same device number";
    const Listing onB = Read(runB.folder);
    ASSERT_EQ(onB, runB.before);

    const ProcessResult preview =
        RunProcess({MORIX_BINARY, "--preview", "-t", "x", runB.folder + "/f1"});
    EXPECT_EQ(preview.exitCode, 0) << preview.err;
    EXPECT_EQ(Read(runB.folder), onB) << "a --preview start moved files of another volume";

    const ProcessResult r = Recover();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("could not be rolled back"), std::string::npos) << r.err;
    EXPECT_EQ(Read(runB.folder), onB) << "recovery moved files of another volume";
    EXPECT_EQ(Journals(), 1u);

    ASSERT_TRUE(volume.UseImage(0)) << volume.why();
    EXPECT_EQ(Read(runA.folder), cut);
    const ProcessResult back = Recover();
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(Read(runA.folder), runA.before) << Show(Read(runA.folder)) << back.err;
    EXPECT_EQ(Journals(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SameDeviceOtherVolume, ::testing::Values("ext4", "exfat"));

// ---------------------------------------------------------------------------
// A file of the run deleted after the cut and a new file created that takes
// its inode number: the new file is not the run's.

struct ReusedCase {
    std::string kind;
    bool atParkingName;
};

void PrintTo(const ReusedCase& c, std::ostream* out) {
    *out << c.kind << (c.atParkingName ? " at a parking name" : " at its current name");
}

class ReusedInode : public VolumeSafety, public ::testing::WithParamInterface<ReusedCase> {};

TEST_P(ReusedInode, ANewFileIsNeverTakenForADeletedOne) {
    SKIP_UNLESS(Needs(true), Missing());
    const ReusedCase& param = GetParam();
    MountedVolume volume(param.kind);
    SKIP_UNLESS(volume.ok(), param.kind << " volume not available: " << volume.why());
    const RotationRun run(volume.Path("docs"));
    run.Make();

    // Cut in the middle of its moves: the third link on NTFS (where every
    // move links, then unlinks), the third rename elsewhere.
    RunProcess(Traced(run.args, param.kind == "ntfs" ? "linkat:signal=SIGKILL:when=3"
                                                     : "renameat2:signal=SIGKILL:when=3"));
    ASSERT_EQ(Journals(), 1u);
    const Listing cut = Read(run.folder);
    ASSERT_NE(cut, run.before);
    ASSERT_NE(cut, run.after);

    // The file of f1, wherever it is now, goes; a new file comes, under that
    // name or under a parking name, after a remount (NTFS gives the lowest
    // free record of a fresh mount).
    std::string gone;
    for (const auto& [name, content] : cut) {
        if (content == run.before.at("f1")) gone = run.folder + "/" + name;
    }
    ASSERT_FALSE(gone.empty()) << Show(cut);
    struct stat st;
    ASSERT_EQ(stat(gone.c_str(), &st), 0);
    const ino_t freed = st.st_ino;
    ASSERT_EQ(unlink(gone.c_str()), 0);
    ASSERT_TRUE(volume.Remount());
    std::string newcomer = gone;
    for (int n = 0; param.atParkingName && newcomer == gone; ++n) {
        const std::string parking = run.folder + "/" + kParking + std::to_string(n) + ".";
        if (!std::filesystem::exists(parking)) newcomer = parking;
    }
    // A FUSE volume just mounted again may refuse the first files for a
    // moment.
    int made = -1;
    for (int attempt = 0; attempt < 50 && made < 0; ++attempt) {
        made = open(newcomer.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (made < 0) Nap(100);
    }
    ASSERT_GE(made, 0) << newcomer << ": " << std::strerror(errno);
    ASSERT_EQ(write(made, "a new file", 10), 10);
    close(made);
    ASSERT_EQ(stat(newcomer.c_str(), &st), 0);
    ASSERT_EQ(st.st_ino, freed) << "the new file did not get the freed inode number";

    const ProcessResult r = Recover();
    EXPECT_EQ(TempDir::Read(newcomer), "a new file") << "the new file was moved\n"
                                                     << Show(Read(run.folder)) << r.err;
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(run.folder + "/f1"), std::string::npos)
        << "the missing file is not named\n"
        << r.err;
    EXPECT_EQ(Journals(), 1u);
    Listing others = Read(run.folder);
    others.erase(newcomer.substr(run.folder.size() + 1));
    for (const auto& [name, content] : others) {
        const auto old = run.before.find(name);
        const auto now = run.after.find(name);
        EXPECT_TRUE((old != run.before.end() && old->second == content) ||
                    (now != run.after.end() && now->second == content) || IsParking(name))
            << name << " holds " << content;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReusedInode,
                         ::testing::Values(ReusedCase{"ntfs", false}, ReusedCase{"ntfs", true},
                                           ReusedCase{"ext4", false}, ReusedCase{"ext4", true}),
                         [](const auto& info) {
                             return info.param.kind +
                                    (info.param.atParkingName ? "_ParkingName" : "_CurrentName");
                         });

// ---------------------------------------------------------------------------
// A run that reported success is final: no later start rolls it back, even
// when its journal could not be removed or has moved away with a folder.

class FinishedRun : public VolumeSafety {
  protected:
    // 50 files n01..n50 in a folder, renamed to m01..m50.
    void MakeFiles() {
        for (int k = 1; k <= 50; ++k) {
            char number[8];
            std::snprintf(number, sizeof number, "%02d", k);
            const std::string content = std::string("content of n") + number;
            before[std::string("n") + number] = content;
            after[std::string("m") + number] = content;
            std::ofstream(files.Path(std::string("n") + number), std::ios::binary) << content;
        }
        args = {"--rename", "--sort", "name", "-t", "m##", "--dir", files.bytes()};
    }

    // After a run that exited 0 (or said why not), later starts leave its
    // files where it put them.
    void CheckLaterStarts(const ProcessResult& run) {
        const Listing done = Read(files.bytes());
        if (run.exitCode == 0) {
            EXPECT_EQ(done, after) << run.err;
        } else {
            EXPECT_NE(run.err.find("journal"), std::string::npos)
                << "a failed run does not say what became of its journal\n"
                << run.err;
            EXPECT_TRUE(done == before || done == after) << Show(done);
        }
        const ProcessResult preview =
            RunProcess({MORIX_BINARY, "--preview", "-t", "x", files.Path(done.begin()->first)});
        EXPECT_EQ(Read(files.bytes()), done) << "a --preview start moved files\n" << preview.err;
        const ProcessResult recover = Recover();
        EXPECT_EQ(Read(files.bytes()), done) << "recovery moved the files of a finished run\n"
                                             << recover.err;
        if (run.exitCode == 0) {
            EXPECT_EQ(recover.err.find("rolled back"), std::string::npos) << recover.err;
        }
    }

    TempDir files;
    Listing before, after;
    std::vector<std::string> args;
};

// The journal folder on an ext4 volume, so that chattr +i works there.
class ImmutableJournalFolder : public FinishedRun {
  protected:
    void SetUp() override {
        FinishedRun::SetUp();
        if (!Needs(true) || !testing::HaveTool("chattr")) return;
        volume_.emplace("ext4");
        if (!volume_->ok()) return;
        ::setenv("XDG_STATE_HOME", volume_->Path("state").c_str(), 1);
        std::filesystem::create_directories(JournalFolder());
    }
    void TearDown() override {
        if (volume_ && volume_->ok()) Shell("chattr -i '" + JournalFolder() + "'");
    }
    bool Ready() const { return volume_ && volume_->ok(); }
    bool Freeze() const { return Shell("chattr +i '" + JournalFolder() + "'"); }
    bool Thaw() const { return Shell("chattr -i '" + JournalFolder() + "'"); }

    std::optional<MountedVolume> volume_;
};

TEST_F(ImmutableJournalFolder, BeforeTheRunStarts) {
    SKIP_UNLESS(Ready(), "needs root, strace, chattr (package e2fsprogs) and an ext4 volume");
    MakeFiles();
    ASSERT_TRUE(Freeze());
    std::vector<std::string> argv = {MORIX_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult run = RunProcess(argv);
    CheckLaterStarts(run);
    ASSERT_TRUE(Thaw());
    CheckLaterStarts(run);
}

TEST_F(ImmutableJournalFolder, WhileTheRunMovesFiles) {
    SKIP_UNLESS(Ready(), "needs root, strace, chattr (package e2fsprogs) and an ext4 volume");
    MakeFiles();
    // Held on its first move (the journal is already in place), then the
    // folder is frozen.
    Background run(Traced(args, "renameat2:delay_enter=1500000:when=2"));
    ASSERT_TRUE(WaitUntilHeldIn(run.pid(), SYS_renameat2, 10000));
    ASSERT_EQ(Journals(), 1u);
    ASSERT_TRUE(Freeze());
    const ProcessResult result = run.Finish();
    CheckLaterStarts(result);
    ASSERT_TRUE(Thaw());
    CheckLaterStarts(result);
}

TEST_F(FinishedRun, RenamingAFolderAboveTheJournal) {
    // boxA holds the state folder; the run renames boxA itself and three
    // files beside it (A -> B).
    const std::string top = files.bytes();
    ::setenv("XDG_STATE_HOME", files.Path("boxA/state").c_str(), 1);
    std::filesystem::create_directories(files.Path("boxA/state"));
    std::vector<std::string> runArgs = {MORIX_BINARY,      "--rename", "--find",           "A",
                                        "--replace",       "B",        "--case-sensitive", "--",
                                        files.Path("boxA")};
    for (const char* name : {"noteA1.txt", "noteA2.txt", "noteA3.txt"}) {
        std::ofstream(files.Path(name)) << name;
        runArgs.push_back(files.Path(name));
    }
    const ProcessResult run = RunProcess(runArgs);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Listing done = Read(top);
    EXPECT_EQ(done.count("boxB/"), 1u) << Show(done);
    EXPECT_EQ(TempDir::Read(files.Path("noteB2.txt")), "noteA2.txt");

    ::setenv("XDG_STATE_HOME", files.Path("boxB/state").c_str(), 1);
    const ProcessResult preview =
        RunProcess({MORIX_BINARY, "--preview", "-t", "x", files.Path("noteB1.txt")});
    EXPECT_EQ(Read(top), done) << "a --preview start rolled back a finished run\n" << preview.err;
    const ProcessResult recover = Recover();
    EXPECT_EQ(Read(top), done) << "recovery rolled back a finished run\n" << recover.err;
    EXPECT_EQ(recover.exitCode, 0) << recover.err;
    EXPECT_EQ(Journals(), 0u) << "a finished run left its journal behind";
}

// ---------------------------------------------------------------------------
// Two runs over the same files at once.

// The names after a whole plan (old name -> new name) is applied to a
// folder's names; nothing when the plan does not fit them.
std::optional<Listing> Apply(const Plan& plan, const Listing& from) {
    Listing to = from;
    for (const auto& [old, name] : plan) {
        if (!from.count(old)) return std::nullopt;
        to.erase(old);
    }
    for (const auto& [old, name] : plan) {
        if (to.count(name)) return std::nullopt;
        to[name] = from.at(old);
    }
    return to;
}

// The plan a run printed with --verbose ("old -> new" per file, full paths),
// as names in folder.
Plan PlanOf(const std::string& out, const std::string& folder) {
    Plan plan;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const auto arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        const auto name = [&](std::string path) { return path.substr(folder.size() + 1); };
        plan[name(line.substr(0, arrow))] = name(line.substr(arrow + 4));
    }
    return plan;
}

TEST_F(VolumeSafety, TwoRunsAtOnceEndAsIfOneRanAfterTheOther) {
    SKIP_UNLESS(Needs(true), Missing());
    MountedVolume volume("tmpfs");
    SKIP_UNLESS(volume.ok(), "tmpfs not available: " << volume.why());
    const std::string folder = volume.Path("shared");
    std::filesystem::create_directories(folder);
    // Run 1 swaps x01 and x02 and gives a03..a12 the free names x03..x12.
    std::vector<std::string> args1 = {"--rename",     "--verbose", "--sort", "none",
                                      "-t",           "x##",       "--",     folder + "/x02",
                                      folder + "/x01"};
    Listing start;
    Plan plan1 = {{"x02", "x01"}, {"x01", "x02"}};
    for (const char* name : {"x01", "x02"})
        start[name] = std::string("content of ") + name;
    for (int k = 3; k <= 12; ++k) {
        char name[8];
        std::snprintf(name, sizeof name, "a%02d", k);
        start[name] = std::string("content of ") + name;
        args1.push_back(folder + "/" + name);
        plan1[name] = "x" + std::string(name + 1);
    }
    for (const auto& [name, content] : start)
        std::ofstream(folder + "/" + name, std::ios::binary) << content;

    // Held on its third move (the first call placed its journal) while run
    // 2 renames everything in the folder to y01...
    Background run1(Traced(args1, "renameat2:delay_enter=3000000:when=4"));
    ASSERT_TRUE(WaitUntilHeldIn(run1.pid(), SYS_renameat2, 10000));
    const Listing seen = Read(folder);
    const ProcessResult r2 = RunProcess(
        {MORIX_BINARY, "--rename", "--verbose", "--sort", "name", "-t", "y##", "--dir", folder});
    const ProcessResult r1 = run1.Finish();
    const Listing end = Read(folder);

    const std::string report = "run 1: exit " + std::to_string(r1.exitCode) + "\n" + r1.err +
                               "run 2: exit " + std::to_string(r2.exitCode) + "\n" + r2.err +
                               r2.out + "while run 1 was held:\n" + Show(seen) + "at the end:\n" +
                               Show(end);
    if (r1.exitCode == 0) {
        EXPECT_EQ(PlanOf(r1.out, folder), plan1) << report;
    }
    const Plan plan2 = PlanOf(r2.out, folder);
    std::vector<Listing> allowed;
    const auto add = [&](std::optional<Listing> listing) {
        if (listing) allowed.push_back(*listing);
    };
    if (r1.exitCode == 0 && r2.exitCode == 0) {
        if (const auto first = Apply(plan1, start)) add(Apply(plan2, *first));
        if (const auto first = Apply(plan2, start)) add(Apply(plan1, *first));
    } else if (r1.exitCode == 0) {
        add(Apply(plan1, start));
    } else if (r2.exitCode == 0) {
        add(Apply(plan2, start));
    } else {
        allowed.push_back(start);
    }
    bool serial = false;
    for (const Listing& listing : allowed)
        serial = serial || listing == end;
    EXPECT_TRUE(serial) << "the end is no serial order of the runs that succeeded\n" << report;
    EXPECT_TRUE(r1.exitCode == 0 || r1.exitCode == 1 || r1.exitCode == 3) << report;
    EXPECT_TRUE(r2.exitCode == 0 || r2.exitCode == 1 || r2.exitCode == 3) << report;
}

// ---------------------------------------------------------------------------
// exFAT has neither a rename that refuses to replace nor links, so a move has
// to rename without the volume's help. A program that creates a file at the
// target meanwhile, as careful programs do (exclusively), must find the name
// taken instead of losing its file to the rename. (A program that truncates
// and writes an existing empty file there is not protected: the run's
// reservation is such a file.)

TEST_F(VolumeSafety, AFileCreatedAtTheTargetDuringAPlainRenameIsNeverReplaced) {
    SKIP_UNLESS(Needs(true), Missing());
    MountedVolume volume("exfat");
    SKIP_UNLESS(volume.ok(), "exfat volume not available: " << volume.why());
    const std::string folder = volume.Path("in");
    std::filesystem::create_directories(folder);
    std::vector<std::string> args = {"--rename", "--sort", "none", "-t", "m#", "--"};
    for (const char* name : {"n1", "n2", "n3"}) {
        std::ofstream(folder + "/" + name) << "content of " << name;
        args.push_back(folder + "/" + name);
    }
    // The plain rename of n1 to m1 is held; another program tries to make m1.
    Background run(Traced(args, "renameat:delay_enter=2000000:when=1"));
    ASSERT_TRUE(WaitUntilHeldIn(run.pid(), SYS_renameat, 10000));
    const std::string target = folder + "/m1";
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const int createError = fd < 0 ? errno : 0;
    if (fd >= 0) {
        const std::string text = "a file of someone else";
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
    }
    const ProcessResult r = run.Finish();
    const Listing end = Read(folder);

    std::size_t foreign = 0;
    for (const auto& [name, content] : end)
        foreign += content == "a file of someone else";
    if (createError == 0) {
        EXPECT_EQ(foreign, 1u) << "the other file was replaced\n" << Show(end) << r.err;
    } else {
        EXPECT_EQ(createError, EEXIST) << "the run held the name while it renamed";
    }
    if (r.exitCode == 0) {
        EXPECT_EQ(end.at("m1"), "content of n1") << Show(end);
        EXPECT_EQ(end.at("m2"), "content of n2");
        EXPECT_EQ(end.at("m3"), "content of n3");
    } else {
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(end, (Listing{{"m1", "a file of someone else"},
                                {"n1", "content of n1"},
                                {"n2", "content of n2"},
                                {"n3", "content of n3"}}))
            << r.err;
    }
}

// ---------------------------------------------------------------------------
// A folder and a file inside it renamed in one run, cut at every step: one
// recovery brings everything home.

class FolderAndItsFile : public VolumeSafety, public ::testing::WithParamInterface<std::string> {};

TEST_P(FolderAndItsFile, OneRecoveryBringsEverythingHome) {
    SKIP_UNLESS(Needs(true), Missing());
    MountedVolume volume(GetParam());
    SKIP_UNLESS(volume.ok(), GetParam() << " volume not available: " << volume.why());
    const std::string top = volume.Path("top");
    const Listing before = {{"dir1/", ""},
                            {"dir1/n1.txt", "content of n1"},
                            {"dir1/keep.txt", "stays"},
                            {"a1.txt", "content of a1"},
                            {"b1.txt", "content of b1"},
                            {"c1.txt", "content of c1"}};
    const Listing after = {{"dir2/", ""},
                           {"dir2/n2.txt", "content of n1"},
                           {"dir2/keep.txt", "stays"},
                           {"a2.txt", "content of a1"},
                           {"b2.txt", "content of b1"},
                           {"c2.txt", "content of c1"}};
    const auto make = [&] {
        std::filesystem::create_directories(top + "/dir1");
        for (const auto& [name, content] : before)
            if (name.back() != '/') std::ofstream(top + "/" + name) << content;
    };
    const std::vector<std::string> args = {"--rename",
                                           "--find",
                                           "1",
                                           "--replace",
                                           "2",
                                           "--",
                                           top + "/dir1",
                                           top + "/dir1/n1.txt",
                                           top + "/a1.txt",
                                           top + "/b1.txt",
                                           top + "/c1.txt"};
    make();
    ProcessResult whole;
    const std::vector<KillPoint> points = KillPointsOf(args, &whole);
    EXPECT_EQ(whole.exitCode, 0) << "the whole run failed\n" << whole.err;
    EXPECT_EQ(Read(top), after);
    ASSERT_GE(points.size(), 3u);

    for (const KillPoint& point : points) {
        SCOPED_TRACE(point.Describe());
        ForgetJournals();
        volume.Clear();
        make();
        RunProcess(Traced(args, point.Inject()));
        const ProcessResult r = Recover();
        const Listing listing = Read(top);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        // Cut after its journal was marked finished, the run stays done.
        EXPECT_TRUE(listing == before || listing == after) << Show(listing) << r.err;
        EXPECT_EQ(Journals(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FolderAndItsFile, ::testing::Values("tmpfs", "ext4", "exfat"));

// ---------------------------------------------------------------------------
// An undo killed at every step of its own: the next recovery puts every file
// back where the undo found it (under the names the run gave it), and the
// run stays kept, so that a later undo takes it back; or the undo had
// finished its moves.

class UndoKilled : public VolumeSafety, public ::testing::WithParamInterface<std::string> {};

TEST_P(UndoKilled, RecoveryPutsEveryFileWhereTheUndoFoundIt) {
    SKIP_UNLESS(Needs(true), Missing());
    MountedVolume volume(GetParam());
    SKIP_UNLESS(volume.ok(), GetParam() << " volume not available: " << volume.why());
    const RotationRun run(volume.Path("top"));
    const auto renamed = [&] {
        ForgetJournals();
        volume.Clear();
        run.Make();
        std::vector<std::string> argv = {MORIX_BINARY};
        argv.insert(argv.end(), run.args.begin(), run.args.end());
        const ProcessResult r = RunProcess(argv);
        return r.exitCode == 0 && Read(run.folder) == run.after;
    };
    ASSERT_TRUE(renamed());
    ProcessResult whole;
    const std::vector<KillPoint> points = KillPointsOf({"--undo"}, &whole);
    EXPECT_EQ(whole.exitCode, 0) << "the whole undo failed\n" << whole.err;
    EXPECT_EQ(Read(run.folder), run.before);
    ASSERT_GE(points.size(), 3u);

    for (const KillPoint& point : points) {
        SCOPED_TRACE(point.Describe());
        ASSERT_TRUE(renamed());
        RunProcess(Traced({"--undo"}, point.Inject()));
        const ProcessResult r = Recover();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Journals(), 0u);
        const Listing listing = Read(run.folder);
        if (listing == run.before) continue;  // cut after the undo's last move
        EXPECT_EQ(listing, run.after) << Show(listing) << r.err;
        const ProcessResult again = RunProcess({MORIX_BINARY, "--undo"});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(Read(run.folder), run.before) << again.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, UndoKilled, ::testing::Values("tmpfs", "ext4", "exfat"));

}  // namespace
}  // namespace morix
