// New names of whole passes: template, extension, case, find and replace,
// normalization, trimming, forbidden characters and the duplicate suffix.
#include "engine/new_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/paths.h"
#include "engine/preview.h"
#include "engine/rename_list.h"
#include "engine/text.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

struct PassCase {
    const char* what;
    RenameOptions options;
    std::vector<std::u16string> fileNames;  // in /nowhere, one row each, in this order
    std::vector<std::u16string> expected;
};

RenameOptions With(auto&& change) {
    RenameOptions o;
    change(o);
    return o;
}

std::vector<std::u16string> ToVector(const NameList& names) {
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out.emplace_back(names[i]);
    return out;
}

class PassTable : public ::testing::TestWithParam<PassCase> {};

TEST_P(PassTable, GivesNames) {
    const PassCase& c = GetParam();
    RenameList list;
    for (const std::u16string& name : c.fileNames)
        list.AddItem(u"/nowhere/" + name);
    NameRegistry registry;
    const std::vector<std::uint32_t> rows = IdentityRows(list.Count());
    EXPECT_EQ(ToVector(ComputeNewNames(list, rows, c.options, registry)), c.expected) << c.what;
    EXPECT_EQ(registry.Size() <= rows.size(), true);
}

const PassCase kPasses[] = {
    {"same template: suffix with the row number",
     With([](RenameOptions& o) { o.nameTemplate = u"photo"; }),
     {u"a.jpg", u"b.jpg", u"c.jpg"},
     {u"photo.jpg", u"photo_2.jpg", u"photo_3.jpg"}},
    {"suffix follows start and increment",
     With([](RenameOptions& o) {
         o.nameTemplate = u"photo";
         o.startNumber = 10;
         o.increment = 5;
     }),
     {u"a.jpg", u"b.jpg", u"c.jpg"},
     {u"photo.jpg", u"photo_15.jpg", u"photo_20.jpg"}},
    {"names colliding in ASCII case",
     With([](RenameOptions&) {}),
     {u"Report.TXT", u"report.txt"},
     {u"Report.TXT", u"report_2.txt"}},
    {"a suffixed name is not checked again",
     With([](RenameOptions& o) { o.nameTemplate = u"<N,1>"; }),
     {u"a_3.txt", u"a.txt", u"ab.txt"},
     {u"a.txt", u"a_2.txt", u"a_3.txt"}},
    {"two rows can end with the same name (the last one trims to a.txt)",
     With([](RenameOptions&) {}),
     {u"a_3.txt", u"a.txt", u"a.txt "},
     {u"a_3.txt", u"a.txt", u"a_3.txt"}},
    {"empty template keeps names", With([](RenameOptions&) {}), {u"x.Y"}, {u"x.Y"}},
    {"empty new extension removes it",
     With([](RenameOptions& o) { o.changeExtension = true; }),
     {u"a.txt", u"a.doc"},
     {u"a", u"a_2"}},
    {"new extension",
     With([](RenameOptions& o) {
         o.changeExtension = true;
         o.newExtension = u"jpeg";
     }),
     {u"a.jpg", u"b"},
     {u"a.jpeg", u"b.jpeg"}},
    {"first letter upper",
     With([](RenameOptions& o) { o.caseMode = CaseMode::kFirstUpper; }),
     {u"hELLO wORLD.TXT", u"1abc.TXT"},
     {u"Hello world.txt", u"1abc.txt"}},
    {"extension upper with a name token",
     With([](RenameOptions& o) {
         o.nameTemplate = u"<N>";
         o.caseMode = CaseMode::kExtensionUpper;
     }),
     {u"a.b.jpg"},
     {u"a.b.JPG"}},
    {"all upper and lower, name and extension",
     With([](RenameOptions& o) { o.caseMode = CaseMode::kAllUpper; }),
     {u"Ab.cD", u"éa.x"},
     {u"AB.CD", u"éA.X"}},
    {"name lower only",
     With([](RenameOptions& o) { o.caseMode = CaseMode::kNameLower; }),
     {u"AB.CD"},
     {u"ab.CD"}},
    {"name upper only",
     With([](RenameOptions& o) { o.caseMode = CaseMode::kNameUpper; }),
     {u"ab.cd"},
     {u"AB.cd"}},
    {"extension lower only",
     With([](RenameOptions& o) { o.caseMode = CaseMode::kExtensionLower; }),
     {u"AB.CD"},
     {u"AB.cd"}},
    {"case change happens before a case-sensitive find",
     With([](RenameOptions& o) {
         o.caseMode = CaseMode::kAllUpper;
         o.findText = u"abc";
         o.replaceText = u"x";
         o.caseSensitive = true;
     }),
     {u"abc.txt"},
     {u"ABC.TXT"}},
    {"case-insensitive find covers the extension",
     With([](RenameOptions& o) {
         o.findText = u"JPG";
         o.replaceText = u"png";
     }),
     {u"x.jpg"},
     {u"x.png"}},
    {"replacement containing the search text does not loop",
     With([](RenameOptions& o) {
         o.findText = u"a";
         o.replaceText = u"aa";
     }),
     {u"aAa"},
     {u"aaaaaa"}},
    {"case-sensitive find skips other case",
     With([](RenameOptions& o) {
         o.findText = u"a";
         o.replaceText = u"-";
         o.caseSensitive = true;
     }),
     {u"aAa"},
     {u"-A-"}},
    {"empty replacement deletes",
     With([](RenameOptions& o) { o.findText = u"_old"; }),
     {u"x_old_OLD.txt"},
     {u"x.txt"}},
    {"forbidden characters of the replacement",
     With([](RenameOptions& o) {
         o.findText = u"-";
         o.replaceText = u"a:b/c";
     }),
     {u"x-y"},
     {u"xa_b_cy"}},
    {"spaces template trims to the extension",
     With([](RenameOptions& o) { o.nameTemplate = u"   "; }),
     {u"a.jpg", u"noext"},
     {u".jpg", u"_2"}},
    {"empty name gets the row number",
     With([](RenameOptions& o) { o.nameTemplate = u"   "; }),
     {u"noext"},
     {u"_1"}},
    {"trimming uses Unicode white space",
     With([](RenameOptions& o) { o.nameTemplate = u"\u3000a\u00a0"; }),
     {u"noext"},
     {u"a"}},
    {"NFC composes decomposed names",
     With([](RenameOptions&) {}),
     {u"e\u0301t\u0301e.txt"},
     {u"\u00e9t\u0301e.txt"}},
    {"normalization can be turned off",
     With([](RenameOptions& o) { o.normalizeUnicode = false; }),
     {u"e\u0301.txt"},
     {u"e\u0301.txt"}},
    {"folder token of a root file",
     With([](RenameOptions& o) { o.nameTemplate = u"<P>"; }),
     {u"x.jpg"},
     {u"nowhere.jpg"}},
    {"numbers wrap around in 32 bits",
     With([](RenameOptions& o) {
         o.nameTemplate = u"#";
         o.startNumber = 2147483647;
     }),
     {u"a", u"b"},
     {u"2147483647", u"-2147483648"}},
};
INSTANTIATE_TEST_SUITE_P(Rules, PassTable, ::testing::ValuesIn(kPasses));

TEST(NameRegistry, KeysIgnoreAsciiCaseOnly) {
    NameRegistry registry;
    registry.Register(u"Photo.JPG", 1);
    EXPECT_TRUE(registry.Contains(u"photo.jpg"));
    EXPECT_FALSE(registry.Contains(u"phöto.jpg"));
    registry.Register(u"PHOTO.jpg", 2);
    EXPECT_EQ(registry.Size(), 1u);
}

TEST(NameRegistry, EachPassStartsEmpty) {
    RenameList list;
    list.AddItem(u"/d/a.txt");
    NameRegistry registry;
    const std::vector<std::uint32_t> rows = IdentityRows(1);
    RenameOptions options;
    EXPECT_EQ(ComputeNewNames(list, rows, options, registry)[0], u"a.txt");
    EXPECT_EQ(ComputeNewNames(list, rows, options, registry)[0], u"a.txt");
}

// A pass's names are indexed where its list holds them: they are found after
// the list has moved, beside names registered on their own, which are copied.
TEST(NameRegistry, FindsAPassesNamesWhereverTheListMoves) {
    RenameList list;
    list.AddItem(u"/d/a.txt");
    list.AddItem(u"/d/B.txt");
    list.AddItem(u"/d/b.txt");
    const std::vector<std::uint32_t> rows = {2, 1, 0};
    NameRegistry registry;
    NameList moved = ComputeNewNames(list, rows, RenameOptions{}, registry);
    const NameList names = std::move(moved);
    ASSERT_EQ(ToVector(names), (std::vector<std::u16string>{u"b.txt", u"B_2.txt", u"a.txt"}));
    for (std::size_t r = 0; r < rows.size(); ++r)
        EXPECT_EQ(registry.ItemOf(names[r]), rows[r]) << "row " << r;
    EXPECT_EQ(registry.ItemOf(u"A.TXT"), 0u);

    registry.Register(std::u16string(u"own name.txt"), 7);
    registry.Register(std::u16string(u"B.TXT"), 9);  // the pass's name, now item 9's
    EXPECT_EQ(registry.ItemOf(u"OWN NAME.txt"), 7u);
    EXPECT_EQ(registry.ItemOf(u"b.txt"), 9u);
    EXPECT_EQ(registry.Size(), 4u);

    // A copy of the names is a list of its own.
    NameList copy = names;
    copy.pop_back();
    copy.push_back(u"c.txt");
    EXPECT_EQ(names[2], u"a.txt");
    EXPECT_EQ(copy[2], u"c.txt");
    EXPECT_EQ(copy.chars(), names.chars());

    // The next pass goes into another list.
    NameList next;
    ComputeNewNames(list, IdentityRows(list.Count()), RenameOptions{}, registry, next);
    EXPECT_EQ(registry.ItemOf(u"b_3.txt"), 2u);
    EXPECT_FALSE(registry.Contains(u"own name.txt"));
}

// A long pass is composed block by block on several threads and registered
// in row order; it must give exactly what naming one row after another gives,
// with duplicates meeting across blocks and slices, in any letter case.
TEST(LongPass, MatchesNamingOneRowAfterAnother) {
    RenameList list;
    constexpr int kRows = 30000;
    for (int i = 0; i < kRows; ++i) {
        const int key = (i * 7) % 4099;  // each name comes back from far away
        std::u16string name = (i % 3 == 0 ? u"F" : u"f") + AsciiToU16(std::to_string(key));
        if (i % 11 == 0) {  // an earlier suffix
            name += u'_';
            name += AsciiToU16(std::to_string(i - 4000));
        }
        list.AddItem(u"/nowhere/" + name + (i % 5 == 0 ? u"" : u".txt"));
    }
    RenameOptions options;
    options.nameTemplate = u"<N>";
    options.startNumber = 3;
    options.increment = -2;

    NameRegistry registry;
    NameList names;
    // Into a list that held a longer, different pass before: nothing of it stays.
    const std::vector<std::uint32_t> all = IdentityRows(list.Count());
    RenameOptions longer = options;
    longer.nameTemplate = u"a rather long template <N><N><N>";
    ComputeNewNames(list, all, longer, registry, names);
    std::vector<std::uint32_t> rows(all.rbegin(), all.rend());
    rows.resize(kRows - 7);
    ComputeNewNames(list, rows, options, registry, names);
    ASSERT_EQ(names.size(), rows.size());

    NameRegistry single;
    std::int32_t number = options.startNumber;
    std::size_t suffixed = 0;
    for (std::size_t r = 0; r < rows.size(); ++r, number += options.increment) {
        const std::u16string name =
            ComputeNewName(options, list.ItemAt(rows[r]).Whole(), number, single);
        ASSERT_EQ(names[r], name) << "row " << r;
        single.Register(name, rows[r]);
        if (name.size() > list.ItemAt(rows[r]).name.size()) ++suffixed;
    }
    EXPECT_GT(suffixed, 1000u);
    EXPECT_EQ(registry.Size(), single.Size());
    for (std::size_t r = 0; r < rows.size(); r += 97)
        EXPECT_EQ(registry.ItemOf(names[r]), single.ItemOf(names[r]));
}

// The sizes and times a template asks about are read with the names of each
// block: files in every block and slice give their own.
TEST(LongPass, ReadsTheFilesOfEveryBlock) {
    testing::TempDir dir;
    RenameList list;
    for (int i = 0; i < 20000; ++i) {
        std::string name = std::to_string(i);
        name += ".txt";
        if (i % 1999 == 0) {
            testing::TempDir::SetModified(
                dir.MakeFile(name, static_cast<std::uint64_t>(i % 89 + 1)),
                1000000000 + std::int64_t{i} * 86400);
            list.AddItem(dir.U16Path(name));
        } else {
            list.AddItem(u"/nowhere/" + AsciiToU16(name));
        }
    }
    RenameOptions options;
    options.nameTemplate = u"<z>_<YYYYMMDD>_<N>";
    NameRegistry registry;
    const std::vector<std::uint32_t> rows = IdentityRows(list.Count());
    const NameList names = ComputeNewNames(list, rows, options, registry);
    ASSERT_EQ(names.size(), rows.size());
    NameRegistry single;
    for (std::size_t r = 0; r < rows.size(); r += 1999) {
        const std::u16string name = ComputeNewName(options, list.ItemAt(rows[r]).Whole(),
                                                   static_cast<std::int32_t>(r + 1), single);
        EXPECT_EQ(names[r], name) << "row " << r;
        EXPECT_NE(name.substr(0, 2), u"0_") << "row " << r;
    }
}

TEST(Normalization, LeavesComposedTextAlone) {
    std::u16string text = u"already \u00e9";
    NormalizeToNfc(text);
    EXPECT_EQ(text, u"already \u00e9");
    std::u16string hangul = u"\u1100\u1161";  // conjoining jamo compose to one syllable
    NormalizeToNfc(hangul);
    EXPECT_EQ(hangul, u"\uAC00");
}

}  // namespace
}  // namespace morix
