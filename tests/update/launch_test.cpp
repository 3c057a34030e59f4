// Starting real processes: the notice launch with a stand-in notifier that
// records its arguments, the plain launch, and the path questions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "engine/paths.h"
#include "engine/text.h"
#include "memory_settings.h"
#include "support/temp_dir.h"
#include "update/process_launch.h"
#include "update/update_checker.h"

namespace morix {
namespace {

using testing::MemorySettings;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

// Writes an executable shell script.
void WriteScript(const std::string& path, const std::string& body) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "#!/bin/sh\n" << body;
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

// Waits up to five seconds for a file to appear; its contents, or nullopt.
std::optional<std::string> WaitForFile(const std::string& path) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (::access(path.c_str(), F_OK) == 0) return TempDir::Read(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

// A stand-in notifier: writes its working folder and then each argument on
// a line of its own to "args" beside it (renamed into place, so a reader
// never sees half of it).
struct StandInNotifier {
    StandInNotifier() {
        WriteScript(dir.Path("tosk"),
                    "out=\"$(dirname \"$0\")/args\"\n"
                    "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$out.tmp\"\n"
                    "mv \"$out.tmp\" \"$out\"\n");
    }
    std::u16string Folder() const { return dir.u16(); }
    std::string ArgsPath() const { return dir.Path("args"); }

    TempDir dir;
};

NoticeInfo FullNotice() {
    NoticeInfo notice;
    notice.url = u"https://notice.invalid/page?id=7&x=y";
    notice.sid = u"main box";  // a blank stays inside one argument
    notice.nid = u"gone";
    notice.time = 10;
    notice.tcol = u"#000000";
    notice.bcol = u"\uD55C";
    return notice;
}

TEST(LaunchNoticeTest, StartsTheNotifierWithItsArgumentsInItsFolder) {
    StandInNotifier tosk;
    MemorySettings settings;
    ASSERT_TRUE(LaunchNotice(FullNotice(), kNoticeTitle, settings.store, tosk.Folder()));
    const auto args = WaitForFile(tosk.ArgsPath());
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, tosk.dir.bytes() +
                         "\n/T\nAd by Trelvo Renamer\n/A\nhttps://notice.invalid/page?id=7&x=y\n"
                         "/S\nmain box\n/N\ngone\n/O\n10\n/F\n#000000\n/B\n\xED\x95\x9C\n");

    // Only what is given is passed.
    std::remove(tosk.ArgsPath().c_str());
    NoticeInfo plain;
    plain.url = u"http://n.invalid/";
    plain.sid = u"s";
    plain.time = 0;
    settings.store.SetDword(kSettingAdSupport, 5, 1);
    ASSERT_TRUE(LaunchNotice(plain, u"T", settings.store, tosk.Folder()));
    const auto shortArgs = WaitForFile(tosk.ArgsPath());
    ASSERT_TRUE(shortArgs.has_value());
    EXPECT_EQ(*shortArgs, tosk.dir.bytes() + "\n/T\nT\n/A\nhttp://n.invalid/\n/S\ns\n");
}

TEST(LaunchNoticeTest, NothingStartsWithoutAUsableNoticeNotifierOrPermission) {
    StandInNotifier tosk;
    MemorySettings settings;
    struct Case {
        const char* what;
        std::u16string url;
        std::u16string sid;
        bool adSupportOff;
        bool noNotifier;
    } cases[] = {
        {"no url", u"", u"s", false, false},
        {"no sid", u"http://n.invalid/", u"", false, false},
        {"local file", u"file:///etc/passwd", u"s", false, false},
        {"program path", u"/usr/bin/xterm", u"s", false, false},
        {"other scheme", u"javascript:close()", u"s", false, false},
        {"AdSupport 0", u"http://n.invalid/", u"s", true, false},
        {"notifier missing", u"http://n.invalid/", u"s", false, true},
    };
    for (const Case& c : cases) {
        NoticeInfo notice;
        notice.url = c.url;
        notice.sid = c.sid;
        settings.store.SetDword(kSettingAdSupport, c.adSupportOff ? 0 : 1, 1);
        const std::u16string folder = c.noNotifier ? tosk.dir.U16Path("elsewhere") : tosk.Folder();
        EXPECT_FALSE(LaunchNotice(notice, kNoticeTitle, settings.store, folder)) << c.what;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_NE(::access(tosk.ArgsPath().c_str(), F_OK), 0);

    // A folder named like the notifier is not the notifier.
    TempDir other;
    other.MakeFolder("tosk");
    NoticeInfo notice;
    notice.url = u"http://n.invalid/";
    notice.sid = u"s";
    EXPECT_FALSE(LaunchNotice(notice, kNoticeTitle, settings.store, other.u16()));
}

TEST(LaunchProcessTest, WaitingAndNotWaiting) {
    TempDir dir;
    // Renamed into place, so a reader never sees the file created but not yet written.
    WriteScript(dir.Path("slow"), "sleep \"$2\"\necho done > \"$1.tmp\"\nmv \"$1.tmp\" \"$1\"\n");
    const std::u16string slow = dir.U16Path("slow");

    auto start = Clock::now();
    ASSERT_TRUE(LaunchProcess({slow, dir.U16Path("waited"), u"1"}, true, u""));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(TempDir::Read(dir.Path("waited")), "done\n");

    start = Clock::now();
    ASSERT_TRUE(LaunchProcessAtMediumIntegrity({slow, dir.U16Path("later"), u"3"}, false, u""));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_NE(::access(dir.Path("later").c_str(), F_OK), 0);
    EXPECT_EQ(WaitForFile(dir.Path("later")), "done\n");

    EXPECT_FALSE(LaunchProcess({dir.U16Path("missing")}, true, u""));
    EXPECT_FALSE(LaunchProcess({dir.u16()}, true, u""));
    EXPECT_FALSE(LaunchProcess({}, true, u""));
    std::ofstream(dir.Path("not-executable")) << "#!/bin/sh\n";
    EXPECT_FALSE(LaunchProcess({dir.U16Path("not-executable")}, true, u""));
}

TEST(LaunchProcessTest, ChildGetsItsFolderAndNoStrayDescriptors) {
    TempDir dir;
    WriteScript(dir.Path("probe"), "pwd > \"$1\"\nls /proc/self/fd >> \"$1\"\n");
    const std::string work = dir.MakeFolder("work");
    // A descriptor opened without close-on-exec must not reach the child.
    const int opened = ::open(dir.Path("probe").c_str(), O_RDONLY);
    ASSERT_GE(opened, 0);
    const int stray = ::fcntl(opened, F_DUPFD, 57);
    ::close(opened);
    ASSERT_GE(stray, 57);
    ASSERT_TRUE(
        LaunchProcess({dir.U16Path("probe"), dir.U16Path("out")}, true, DecodeFileName(work)));
    ::close(stray);
    const std::string out = TempDir::Read(dir.Path("out"));
    ASSERT_EQ(out.rfind(work + "\n", 0), 0u) << out;
    std::istringstream lines(out.substr(work.size() + 1));
    std::string line;
    int listed = 0;
    while (std::getline(lines, line)) {
        ++listed;
        EXPECT_NE(line, std::to_string(stray)) << out;
    }
    EXPECT_GE(listed, 3) << out;
}

TEST(ModulePathsTest, ModulePathFileTestsAndAppending) {
    const std::u16string self = GetModulePath();
    EXPECT_EQ(EncodeFileName(FileName(self)), "update_tests");
    EXPECT_TRUE(IsFile(self));
    EXPECT_EQ(GetModuleFolder() + u"/update_tests", self);

    TempDir dir;
    dir.MakeFile("file");
    dir.MakeFolder("folder");
    ASSERT_EQ(::symlink(dir.Path("file").c_str(), dir.Path("to-file").c_str()), 0);
    ASSERT_EQ(::symlink(dir.Path("folder").c_str(), dir.Path("to-folder").c_str()), 0);
    ASSERT_EQ(::symlink(dir.Path("nothing").c_str(), dir.Path("dangling").c_str()), 0);
    EXPECT_TRUE(IsFile(dir.U16Path("file")));
    EXPECT_TRUE(IsFile(dir.U16Path("to-file")));
    EXPECT_FALSE(IsFile(dir.U16Path("folder")));
    EXPECT_FALSE(IsFile(dir.U16Path("to-folder")));
    EXPECT_FALSE(IsFile(dir.U16Path("dangling")));
    EXPECT_FALSE(IsFile(dir.U16Path("missing")));
    EXPECT_FALSE(IsFile(u""));

    std::u16string path = u"/a/b";
    EXPECT_FALSE(AppendPath(path, nullptr));
    EXPECT_EQ(path, u"/a/b");
    EXPECT_TRUE(AppendPath(path, u"c"));
    EXPECT_EQ(path, u"/a/b/c");
    path = u"/a/";
    EXPECT_TRUE(AppendPath(path, u"c"));
    EXPECT_EQ(path, u"/a/c");
}

}  // namespace
}  // namespace morix
