// Presets on the real file: every option round trips, presets are saved,
// renamed and deleted, two writers at once lose nothing, and a damaged or
// unreadable file never costs the presets that can be read.
#include "base/presets.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/text.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::TempDir;

// Every option away from its default.
RenameOptions AllChanged() {
    RenameOptions o;
    o.nameTemplate = u"<YYYY-MM-DD> \"###\"";
    o.newExtension = u"png";
    o.findText = u"^(\\d+)_(.*)$";
    o.replaceText = u"$2 ${1} \u00E9";
    o.caseMode = CaseMode::kFirstUpper;
    o.sortKey = SortKey::kModifiedTime;
    o.startNumber = 99999999;
    o.increment = 7;
    o.changeExtension = true;
    o.caseSensitive = true;
    o.regex = true;
    o.normalizeUnicode = false;
    o.descending = true;
    return o;
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// "w<writer>-<index>" (built with append: GCC 12 warns falsely on "+").
std::u16string WriterPreset(int writer, int index) {
    std::string name = "w";
    name.append(std::to_string(writer)).append("-").append(std::to_string(index));
    return AsciiToU16(name);
}

std::vector<std::u16string> Names(const PresetBook& book) {
    std::vector<std::u16string> names;
    for (const Preset& p : book.presets)
        names.push_back(p.name);
    return names;
}

TEST(Presets, SaveApplyRenameDeleteThroughTheFile) {
    TempDir dir;
    PresetFile file(dir.Path("Trelvo Renamer presets.conf"));
    EXPECT_TRUE(file.Load().presets.empty());  // no file yet
    RenameOptions plain;
    plain.nameTemplate = u"IMG_###";
    ASSERT_EQ(file.Save(u"Camera", AllChanged()), PresetResult::kDone);
    ASSERT_EQ(file.Save(u"Plain & simple", plain), PresetResult::kDone);

    PresetBook book = file.Load();
    ASSERT_EQ(Names(book), (std::vector<std::u16string>{u"Camera", u"Plain & simple"}));
    EXPECT_EQ(book.presets[0].options, AllChanged());
    EXPECT_EQ(book.presets[1].options, plain);
    EXPECT_TRUE(book.damaged.empty());
    // Human-readable, one option a line.
    const std::string text = TempDir::Read(file.path());
    EXPECT_NE(text.find("Preset=sz:\"Camera\"\nTemplate=sz:\"<YYYY-MM-DD> \\\"###\\\"\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("Regex=dword:1\n"), std::string::npos);

    // Saving under a name that exists replaces its options in place.
    ASSERT_EQ(file.Save(u"Camera", plain), PresetResult::kDone);
    EXPECT_EQ(file.Load().presets[0].options, plain);

    EXPECT_EQ(file.Rename(u"Camera", u"Plain & simple"), PresetResult::kNameTaken);
    EXPECT_EQ(file.Rename(u"Nothing", u"Other"), PresetResult::kNotFound);
    EXPECT_EQ(file.Rename(u"Camera", u""), PresetResult::kEmptyName);
    EXPECT_EQ(file.Save(u"", plain), PresetResult::kEmptyName);
    ASSERT_EQ(file.Rename(u"Camera", u"Kamera \uCE74\uBA54\uB77C"), PresetResult::kDone);
    ASSERT_EQ(file.Delete(u"Plain & simple"), PresetResult::kDone);
    EXPECT_EQ(file.Delete(u"Plain & simple"), PresetResult::kNotFound);

    book = file.Load();
    ASSERT_EQ(Names(book), (std::vector<std::u16string>{u"Kamera \uCE74\uBA54\uB77C"}));
    EXPECT_EQ(book.presets[0].options, plain);
    EXPECT_NE(FindPreset(book, u"Kamera \uCE74\uBA54\uB77C"), nullptr);
    EXPECT_EQ(FindPreset(book, u"kamera \uCE74\uBA54\uB77C"), nullptr);  // names are exact
}

TEST(Presets, DamagedLinesAreReportedAndNoPresetIsLost) {
    TempDir dir;
    PresetFile file(dir.Path("presets.conf"));
    Write(file.path(),
          "Start=dword:5\n"            // 1: before any preset
          "Preset=sz:\"First\"\n"      // 2
          "Template=sz:\"<N>_#\"\n"    // 3
          "Start=dword:many\n"         // 4: not a number
          "Case=dword:99\n"            // 5: no such case mode
          "Preset=sz:\"Broken\n"       // 6: a preset that does not begin
          "Find=sz:\"x\"\n"            // 7: so this belongs to none
          "Preset=sz:\"Second\"\n"     // 8
          "Regex=dword:1\n"            // 9
          "Colour=dword:1\n"           // 10: a name this version does not know
          "Preset=sz:\"First\"\n"      // 11: a second preset of that name
          "Increment=dword:4\n"        // 12
          "\xff\xfe garbage \x01\n");  // 13
    PresetBook book = file.Load();
    ASSERT_EQ(Names(book), (std::vector<std::u16string>{u"First", u"Second"}));
    EXPECT_EQ(book.presets[0].options.nameTemplate, u"<N>_#");
    EXPECT_EQ(book.presets[0].options.startNumber, 1);
    EXPECT_EQ(book.presets[0].options.caseMode, CaseMode::kNoChange);
    EXPECT_EQ(book.presets[0].options.increment, 1);
    EXPECT_TRUE(book.presets[0].options.findText.empty());
    EXPECT_TRUE(book.presets[1].options.regex);
    std::vector<std::size_t> numbers;
    for (const PresetBook::DamagedLine& line : book.damaged)
        numbers.push_back(line.number);
    EXPECT_EQ(numbers, (std::vector<std::size_t>{1, 4, 5, 6, 7, 11, 12, 13}));

    // A change keeps every preset, the unknown value and, as comments, the
    // damaged lines; read again, nothing is reported twice.
    RenameOptions third;
    third.dateSource = DateSource::kTaken;
    ASSERT_EQ(file.Save(u"Third", third), PresetResult::kDone);
    book = file.Load();
    EXPECT_EQ(Names(book), (std::vector<std::u16string>{u"First", u"Second", u"Third"}));
    EXPECT_EQ(book.presets[2].options.dateSource, DateSource::kTaken);
    EXPECT_TRUE(book.damaged.empty());
    EXPECT_EQ(book.kept.size(), 8u);
    ASSERT_EQ(book.presets[1].unknown.size(), 1u);
    EXPECT_EQ(book.presets[1].unknown[0].name, "Colour");
    EXPECT_NE(TempDir::Read(file.path()).find("#! Start=dword:many\n"), std::string::npos);
    ASSERT_EQ(file.Delete(u"First"), PresetResult::kDone);
    EXPECT_EQ(file.Load().kept.size(), 8u);
}

TEST(Presets, AFileThatCannotBeReadIsLeftAlone) {
    TempDir dir;
    PresetFile folder(dir.MakeFolder("presets.conf"));
    EXPECT_FALSE(folder.Load().readable);
    EXPECT_EQ(folder.Save(u"A", RenameOptions{}), PresetResult::kNotWritten);

    PresetFile big(dir.Path("big.conf"));
    const std::string keep = "Preset=sz:\"A\"\n" + std::string(PresetFile::kMaxFileBytes, '#');
    Write(big.path(), keep);
    EXPECT_FALSE(big.Load().readable);
    EXPECT_EQ(big.Save(u"B", RenameOptions{}), PresetResult::kNotWritten);
    EXPECT_EQ(TempDir::Read(big.path()), keep);
}

// Two windows saving at once: each change reads the file again under the
// lock, so every preset of both ends up in it.
TEST(Presets, WritersAtOnceLoseNothing) {
    TempDir dir;
    const std::string path = dir.Path("presets.conf");
    constexpr int kEach = 25;
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&, w] {
            PresetFile file(path);
            for (int i = 0; i < kEach; ++i) {
                RenameOptions o;
                o.startNumber = w * 100 + i;
                file.Save(WriterPreset(w, i), o);
            }
        });
    }
    for (std::thread& t : writers)
        t.join();
    const PresetBook book = PresetFile(path).Load();
    ASSERT_EQ(book.presets.size(), 2u * kEach);
    for (int w = 0; w < 2; ++w) {
        for (int i = 0; i < kEach; ++i) {
            const Preset* p = FindPreset(book, WriterPreset(w, i));
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->options.startNumber, w * 100 + i);
        }
    }
}

}  // namespace
}  // namespace morix
