// The settings file on a real disk: its format, damaged files, crashes in the
// middle of a write and several programs writing at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/settings_file.h"
#include "base/settings_store.h"
#include "base/user_dirs.h"
#include "support/run_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using namespace morix;
using morix::testing::RunProcess;
using morix::testing::ScopedEnv;
using morix::testing::TempDir;
using namespace std::string_literals;

namespace {

constexpr const char* kHeader =
    "# Trelvo Renamer settings, one value a line: name=sz:\"text\",\n"
    "# name=dword:number (32-bit) or name=qword:number (64-bit).\n";

class SettingsFileTest : public ::testing::Test {
  protected:
    std::string File() const { return dir.Path("Vantorel/Trelvo Renamer.conf"); }
    std::unique_ptr<SettingsStore> NewStore() const {
        return std::make_unique<SettingsStore>(std::make_unique<FileSettingsBackend>(File()));
    }
    void WriteFile(const std::string& text) const {
        std::filesystem::create_directories(dir.Path("Vantorel"));
        std::ofstream(File(), std::ios::binary) << text;
    }
    TempDir dir;
};

TEST_F(SettingsFileTest, DefaultFoldersFollowXdgVariables) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv config("XDG_CONFIG_HOME", dir.bytes());
        ScopedEnv data("XDG_DATA_HOME", "/data/here");
        EXPECT_EQ(DefaultSettingsFilePath(), dir.Path("Vantorel/Trelvo Renamer.conf"));
        EXPECT_EQ(UserDataHome(), "/data/here");
    }
    ScopedEnv config("XDG_CONFIG_HOME", "relative/dir");  // ignored: not absolute
    ScopedEnv data("XDG_DATA_HOME", "");
    EXPECT_EQ(DefaultSettingsFilePath(), "/home/someone/.config/Vantorel/Trelvo Renamer.conf");
    EXPECT_EQ(UserDataHome(), "/home/someone/.local/share");
}

TEST_F(SettingsFileTest, ReadsCreateNothingAndDefaultsAreNotStored) {
    auto store = NewStore();
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 1u);
    EXPECT_EQ(store->GetString(kSettingExtension, u"jpg"), u"jpg");
    EXPECT_FALSE(std::filesystem::exists(dir.Path("Vantorel")));

    store->SetDword(kSettingNormalize, 0, 1);
    store->SetString(kSettingExtension, u"png", u"jpg");
    store->SetString(kSettingReplaceFrom, u"x", std::nullopt);
    store->SetDword(kSettingNormalize, 1, 1);
    store->SetString(kSettingExtension, u"jpg", u"jpg");
    store->SetString(kSettingReplaceFrom, u"", std::nullopt);
    EXPECT_EQ(TempDir::Read(File()), kHeader);
}

TEST_F(SettingsFileTest, ValueChangedByAnotherProgramAfterTheFirstReadStaysAsFirstRead) {
    WriteFile("BRStart=dword:5\n");
    auto store = NewStore();
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 5u);
    EXPECT_EQ(store->GetDword(kSettingStep, 1), 1u);
    auto other = NewStore();
    other->SetDword(kSettingStart, 6, 1);
    other->SetDword(kSettingStep, 2, 1);
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 5u);
    EXPECT_EQ(store->GetDword(kSettingStep, 1), 1u);
    // Writing the cached value again writes nothing: the other value stays.
    store->SetDword(kSettingStart, 5, 1);
    EXPECT_EQ(NewStore()->GetDword(kSettingStart, 1), 6u);
}

// The file is a format users and later versions read: pin it.
TEST_F(SettingsFileTest, FileIsTypedReadableTextThatAnotherRunReadsBack) {
    const std::u16string awkward =
        u"a\"b\\c\nd\te\r\x01\x7F \xD55C\xAE00 \U0001F600 \xD800x\xDC00"s;
    {
        auto store = NewStore();
        store->SetString(kSettingRecentTemplate1, u"<N> - <D>", std::nullopt);
        store->SetDword(kSettingStart, 4294967295u, 1);
        store->SetQword(kSettingUpdateCheckTime, 18446744073709551615ull, 0);
        store->SetString(kSettingReplaceWith, awkward, std::nullopt);
    }
    EXPECT_EQ(TempDir::Read(File()),
              std::string(kHeader) +
                  "BRMRN1=sz:\"<N> - <D>\"\n"
                  "BRStart=dword:4294967295\n"
                  "UpdateCheckTime=qword:18446744073709551615\n"
                  "BRReplaceWith=sz:\"a\\\"b\\\\c\\nd\\te\\r\\u0001\\u007F "
                  "\xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x98\x80 \\uD800x\\uDC00\"\n");

    auto next = NewStore();
    EXPECT_EQ(next->GetString(kSettingRecentTemplate1, std::nullopt), u"<N> - <D>");
    EXPECT_EQ(next->GetDword(kSettingStart, 1), 4294967295u);
    EXPECT_EQ(next->GetQword(kSettingUpdateCheckTime, 0), 18446744073709551615ull);
    EXPECT_EQ(next->GetString(kSettingReplaceWith, std::nullopt), awkward);

    struct stat info {};
    ASSERT_EQ(::stat(File().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// One damaged line next to a good one: the damaged value reads as its
// default, and the next write keeps the good value and drops the damage.
struct DamagedLine {
    const char* what;
    std::string line;
};

class DamagedFileTest : public SettingsFileTest,
                        public ::testing::WithParamInterface<DamagedLine> {};

TEST_P(DamagedFileTest, DamagedValueReadsAsDefaultAndTheNextWriteKeepsTheRest) {
    WriteFile("BRStep=dword:7\r\n" + GetParam().line + "\nBRMRN2 = sz:\"kept\"\n");
    {
        auto store = NewStore();
        EXPECT_EQ(store->GetDword(kSettingStart, 1), 1u);
        EXPECT_EQ(store->GetString(kSettingRecentTemplate1, u"<N>"), u"<N>");
        EXPECT_EQ(store->GetDword(kSettingStep, 1), 7u);
        store->SetDword(kSettingCase, 2, 0);
    }
    const std::string text = TempDir::Read(File());
    const ParsedSettingsFile parsed = ParseSettingsFile(text);
    EXPECT_EQ(parsed.damagedLines, 0u) << text;
    auto store = NewStore();
    EXPECT_EQ(store->GetDword(kSettingStep, 1), 7u);
    EXPECT_EQ(store->GetString(kSettingRecentTemplate1 + 1, std::nullopt), u"kept");
    EXPECT_EQ(store->GetDword(kSettingCase, 0), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DamagedFileTest,
    ::testing::Values(
        DamagedLine{"EmptyNumber", "BRStart=dword:"}, DamagedLine{"Negative", "BRStart=dword:-1"},
        DamagedLine{"TooBigFor32Bits", "BRStart=dword:4294967296"},
        DamagedLine{"Hex", "BRStart=dword:0x10"}, DamagedLine{"Trailing", "BRStart=dword:1 2"},
        DamagedLine{"UnknownKind", "BRStart=float:1.5"}, DamagedLine{"NoKind", "BRStart=5"},
        DamagedLine{"NoEquals", "BRStart dword:5"}, DamagedLine{"NoName", "=dword:5"},
        DamagedLine{"TextAsNumber", "BRStart=sz:\"5\""},  // readable, but of the wrong kind
        DamagedLine{"NumberAsText", "BRMRN1=dword:5"},
        DamagedLine{"Unterminated", "BRMRN1=sz:\"abc"}, DamagedLine{"Unquoted", "BRMRN1=sz:abc"},
        DamagedLine{"InnerQuote", "BRMRN1=sz:\"a\"b\""},
        DamagedLine{"BadEscape", "BRMRN1=sz:\"a\\qb\""},
        DamagedLine{"ShortUnicodeEscape", "BRMRN1=sz:\"\\u12\""},
        DamagedLine{"EscapeAtEnd", "BRMRN1=sz:\"ab\\\""},
        DamagedLine{"InvalidUtf8", "BRMRN1=sz:\"\xFF\xFE\""},
        DamagedLine{"Binary", "\x00\x01\x02garbage\xC3"s}, DamagedLine{"Nul", "BRStart=dword:1\0"s},
        DamagedLine{"ControlInText", "BRMRN1=sz:\"a\x02\""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(SettingsFileTest, EmptyOrJunkFileReadsDefaultsAndTakesWrites) {
    for (const std::string& junk :
         {""s, "\n\n\n"s, std::string(4096, '\0'), "\x89PNG\r\n\x1A\n\0\0\0\rIHDR=\xFF:\x01"s}) {
        WriteFile(junk);
        auto store = NewStore();
        EXPECT_EQ(store->GetDword(kSettingStart, 1), 1u);
        EXPECT_EQ(store->GetString(kSettingExtension, u"jpg"), u"jpg");
        store->SetDword(kSettingStep, 3, 1);
        EXPECT_EQ(TempDir::Read(File()), std::string(kHeader) + "BRStep=dword:3\n");
    }
}

TEST_F(SettingsFileTest, OversizedFileIsNeitherReadNorReplaced) {
    WriteFile("BRStart=dword:5\n" + std::string(FileSettingsBackend::kMaxFileBytes, '#') + "\n");
    FileSettingsBackend backend(File());
    StoredValue value;
    EXPECT_EQ(backend.Read("BRStart", value), ISettingsBackend::ReadStatus::kUnavailable);
    EXPECT_FALSE(backend.Write("BRStep", StoredValue(std::uint32_t{3})));
    EXPECT_EQ(std::filesystem::file_size(File()), FileSettingsBackend::kMaxFileBytes + 17);
}

// Characters beyond U+FFFF go into the file as UTF-8. Those whose second
// surrogate lies in U+DC80..U+DCFF (the camera U+1F4F7 among them) were taken
// for undecodable bytes on reading, so a template holding one was lost.
TEST_F(SettingsFileTest, CharactersBeyondTheBasicPlaneReadBack) {
    const std::u16string text = u"\U0001F4F7 <N> \U0001F480\U0001F600\U0010FFFF";
    FileSettingsBackend backend(File());
    ASSERT_TRUE(backend.Write("BRMRN1", StoredValue(text)));
    const std::string written = TempDir::Read(File());
    EXPECT_NE(written.find("\xF0\x9F\x93\xB7"), std::string::npos);  // UTF-8, not escaped
    EXPECT_EQ(ParseSettingsFile(written).damagedLines, 0u);
    StoredValue value;
    ASSERT_EQ(backend.Read("BRMRN1", value), ISettingsBackend::ReadStatus::kFound);
    EXPECT_EQ(std::get<std::u16string>(value), text);
    // Undecodable bytes right after such a character are still damage.
    EXPECT_EQ(ParseSettingsFile("BRMRN1=sz:\"\xF0\x9F\x93\xB7\xFF\"\n").damagedLines, 1u);
}

// A large file of distinct names, one a line: each line once searched every
// earlier name, so a file of the largest size that is read (16 MiB, 700,000
// lines) took hours. 200,000 lines took minutes; now they take a moment.
TEST_F(SettingsFileTest, ManyDistinctNamesReadQuickly) {
    constexpr std::uint32_t kCount = 200000;
    std::string text;
    for (std::uint32_t i = 0; i < kCount; ++i) {
        const std::string number = std::to_string(i);
        text.append("n").append(number).append("=dword:").append(number).append("\n");
    }
    text += "n0=dword:7\n";  // a name given twice keeps its place and takes the last value
    const auto start = std::chrono::steady_clock::now();
    const ParsedSettingsFile parsed = ParseSettingsFile(text);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    ASSERT_EQ(parsed.entries.size(), kCount);
    EXPECT_EQ(parsed.damagedLines, 0u);
    EXPECT_EQ(parsed.entries[0].name, "n0");
    EXPECT_EQ(parsed.entries[0].value, StoredValue(std::uint32_t{7}));
    EXPECT_EQ(parsed.entries[kCount - 1].name, std::string("n").append(std::to_string(kCount - 1)));
    EXPECT_EQ(parsed.entries[kCount - 1].value, StoredValue(kCount - 1));
}

TEST_F(SettingsFileTest, PipeInPlaceOfTheFileNeitherHangsNorIsReplaced) {
    std::filesystem::create_directories(dir.Path("Vantorel"));
    ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
    auto store = NewStore();
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 1u);
    store->SetDword(kSettingStart, 4, 1);
    EXPECT_TRUE(std::filesystem::is_fifo(File()));
}

TEST_F(SettingsFileTest, SymbolicLinkToTheFileStaysALink) {
    const std::string real = dir.MakeFile("dotfiles-settings.conf");
    std::filesystem::create_directories(dir.Path("Vantorel"));
    std::filesystem::create_symlink(real, File());
    NewStore()->SetDword(kSettingStart, 9, 1);
    EXPECT_TRUE(std::filesystem::is_symlink(File()));
    EXPECT_EQ(TempDir::Read(real), std::string(kHeader) + "BRStart=dword:9\n");
}

TEST_F(SettingsFileTest, CrashBeforeTheRenameLeavesTheOldFileWhole) {
    WriteFile("BRStart=dword:5\nBRMRN1=sz:\"old\"\n");
    const std::string before = TempDir::Read(File());
    const auto crashed = RunProcess({SETTINGS_WRITER, "crash", File(), "BRStep", "8"});
    EXPECT_EQ(crashed.exitCode, -1) << "the writer was to die by a signal";
    EXPECT_EQ(TempDir::Read(File()), before);

    // The unfinished temporary file is there, complete, and a later write
    // clears it away.
    const std::string prefix = "Trelvo Renamer.conf.tmp.";
    auto leftovers = [&] {
        int count = 0;
        for (const auto& item : std::filesystem::directory_iterator(dir.Path("Vantorel")))
            count += item.path().filename().string().rfind(prefix, 0) == 0;
        return count;
    };
    EXPECT_EQ(leftovers(), 1);
    NewStore()->SetDword(kSettingStep, 8, 1);
    EXPECT_EQ(leftovers(), 0);
    auto store = NewStore();
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 5u);
    EXPECT_EQ(store->GetDword(kSettingStep, 1), 8u);
    EXPECT_EQ(store->GetString(kSettingRecentTemplate1, std::nullopt), u"old");
}

// Two programs write different values at the same time, each value a write
// of its own; a third reads all along. Every value arrives, and no read ever
// sees a damaged or shrunken file.
TEST_F(SettingsFileTest, ProgramsWritingAtOnceLoseNothing) {
    constexpr int kEach = 150;
    auto run = [&](std::vector<std::string> args, morix::testing::ProcessResult* result) {
        *result = RunProcess(args);
    };
    morix::testing::ProcessResult a, b, watcher;
    std::thread watch(
        run, std::vector<std::string>{SETTINGS_WRITER, "watch", File(), std::to_string(2 * kEach)},
        &watcher);
    std::thread first(
        run,
        std::vector<std::string>{SETTINGS_WRITER, "many", File(), "first", std::to_string(kEach)},
        &a);
    std::thread second(
        run,
        std::vector<std::string>{SETTINGS_WRITER, "many", File(), "second", std::to_string(kEach)},
        &b);
    first.join();
    second.join();
    watch.join();
    EXPECT_EQ(a.exitCode, 0) << a.err;
    EXPECT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(watcher.exitCode, 0) << watcher.err;

    const ParsedSettingsFile parsed = ParseSettingsFile(TempDir::Read(File()));
    EXPECT_EQ(parsed.damagedLines, 0u);
    ASSERT_EQ(parsed.entries.size(), 2u * kEach);
    FileSettingsBackend backend(File());
    for (const char* prefix : {"first", "second"}) {
        for (std::uint32_t i = 0; i < kEach; ++i) {
            StoredValue value;
            ASSERT_EQ(backend.Read(prefix + std::to_string(i), value),
                      ISettingsBackend::ReadStatus::kFound);
            EXPECT_EQ(std::get<std::uint32_t>(value), i);
        }
    }
}

}  // namespace
