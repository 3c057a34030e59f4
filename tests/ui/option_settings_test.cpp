// The window's options and template history kept between runs, on the real
// settings file.
#include "ui/logic/option_settings.h"

#include <gtest/gtest.h>

#include "engine/text.h"

#include "base/settings_file.h"
#include "support/temp_dir.h"

namespace morix::ui {
namespace {

using testing::TempDir;

std::unique_ptr<SettingsStore> OpenStore(const TempDir& dir) {
    return std::make_unique<SettingsStore>(
        std::make_unique<FileSettingsBackend>(dir.Path("Trelvo Renamer.conf")));
}

TEST(OptionSettings, DefaultsWhenNothingIsStored) {
    TempDir dir;
    auto store = OpenStore(dir);
    const RenameOptions o = LoadOptions(*store);
    EXPECT_EQ(o.startNumber, 1);
    EXPECT_EQ(o.increment, 1);
    EXPECT_EQ(o.newExtension, u"jpg");
    EXPECT_FALSE(o.changeExtension);
    EXPECT_TRUE(o.normalizeUnicode);
    EXPECT_EQ(o.caseMode, CaseMode::kNoChange);
    EXPECT_EQ(o.sortKey, SortKey::kName);
    EXPECT_FALSE(o.regex);
    EXPECT_EQ(o.dateSource, DateSource::kModified);
    EXPECT_EQ(LoadHistory(*store), (std::vector<std::u16string>{u"<N>"}));
}

TEST(OptionSettings, SavedOptionsComeBackInTheNextRun) {
    TempDir dir;
    RenameOptions o;
    o.nameTemplate = u"IMG_###";
    o.startNumber = 7;
    o.increment = 3;
    o.changeExtension = true;
    o.newExtension = u"";
    o.caseMode = CaseMode::kFirstUpper;
    o.findText = u"a";
    o.replaceText = u"b";
    o.caseSensitive = true;
    o.regex = true;
    o.normalizeUnicode = false;
    o.sortKey = SortKey::kSize;
    o.descending = true;
    o.dateSource = DateSource::kTaken;
    SaveSettings(*OpenStore(dir), o, {u"<N>", u"IMG_###", u"", u"old_#"});

    auto store = OpenStore(dir);
    const RenameOptions back = LoadOptions(*store);
    EXPECT_EQ(back.startNumber, 7);
    EXPECT_EQ(back.increment, 3);
    EXPECT_TRUE(back.changeExtension);
    EXPECT_EQ(back.newExtension, u"");
    EXPECT_EQ(back.caseMode, CaseMode::kFirstUpper);
    EXPECT_EQ(back.findText, u"a");
    EXPECT_EQ(back.replaceText, u"b");
    EXPECT_TRUE(back.caseSensitive);
    EXPECT_TRUE(back.regex);
    EXPECT_FALSE(back.normalizeUnicode);
    EXPECT_EQ(back.sortKey, SortKey::kSize);
    EXPECT_TRUE(back.descending);
    EXPECT_EQ(back.dateSource, DateSource::kTaken);
    // The template first; empty entries and the template's twin left out.
    EXPECT_EQ(LoadHistory(*store), (std::vector<std::u16string>{u"IMG_###", u"<N>", u"old_#"}));
}

TEST(OptionSettings, HistoryKeepsTenEntries) {
    TempDir dir;
    std::vector<std::u16string> combo;
    for (int i = 0; i < 12; ++i)
        combo.push_back(u"t" + AsciiToU16(std::to_string(i)));
    RenameOptions o;
    o.nameTemplate = u"new";
    SaveSettings(*OpenStore(dir), o, combo);
    const std::vector<std::u16string> history = LoadHistory(*OpenStore(dir));
    ASSERT_EQ(history.size(), 10u);
    EXPECT_EQ(history.front(), u"new");
    EXPECT_EQ(history.back(), u"t8");
}

TEST(OptionSettings, OutOfRangeStoredListsFallBack) {
    TempDir dir;
    {
        auto store = OpenStore(dir);
        store->SetDword(kSettingCase, 42, 0);
        store->SetDword(kSettingSortBy, 9, 0);
        store->SetDword(kSettingDateSource, 2, 0);
    }
    const RenameOptions o = LoadOptions(*OpenStore(dir));
    EXPECT_EQ(o.caseMode, CaseMode::kNoChange);
    EXPECT_EQ(o.sortKey, SortKey::kName);
    EXPECT_EQ(o.dateSource, DateSource::kModified);
}

}  // namespace
}  // namespace morix::ui
