// Find and replace with a regular expression: through whole passes of new
// names, the errors of patterns and replacements, and the limits that stop a
// pattern that backtracks without end.
#include "engine/regex_replace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/new_name.h"
#include "engine/preview.h"
#include "engine/rename_list.h"
#include "engine/text.h"

namespace morix {
namespace {

struct RegexCase {
    const char* what;
    const char16_t* find;
    const char16_t* replace;
    bool caseSensitive;
    const char* oldName;  // file-name bytes
    const char* expected;
};

class RegexPass : public ::testing::TestWithParam<RegexCase> {};

TEST_P(RegexPass, GivesName) {
    const RegexCase& c = GetParam();
    RenameOptions options;
    options.regex = true;
    options.findText = c.find;
    options.replaceText = c.replace;
    options.caseSensitive = c.caseSensitive;
    RenameList list;
    list.AddItem(u"/nowhere/" + DecodeFileName(c.oldName));
    NameRegistry registry;
    const NameList names = ComputeNewNames(list, IdentityRows(1), options, registry);
    EXPECT_EQ(EncodeFileName(names[0]), c.expected) << c.what;
    EXPECT_TRUE(names.RegexStoppedRows().empty()) << c.what;
}

const RegexCase kRegexCases[] = {
    {"numbered groups", u"^(\\d{4})(\\d{2})(\\d{2})_(.*)$", u"$1-$2-$3 $4", false,
     "20240131_beach.jpg", "2024-01-31 beach.jpg"},
    {"named groups, also by number in braces", u"(?<year>\\d{4})-(?<month>\\d\\d)",
     u"${month}.${year}${2}", false, "x 2023-07.txt", "x 07.202307.txt"},
    {"$0 is the whole match, $$ a dollar, a lone $ itself", u"[0-9]+", u"$$$0$", false, "a12b3.c",
     "a$12$b$3$.c"},
    {"one digit per $: $12 is group 1 and a 2", u"(a)", u"$12", false, "xa.t", "xa2.t"},
    {"a group that took no part inserts nothing", u"(x)?(b)", u"[$1$2]", false, "ab.c", "a[b].c"},
    {"every match, the extension included", u"o", u"0", false, "foo.doc", "f00.d0c"},
    {"an empty match is tried once at each place, never inside a pair", u"x*", u"-", false,
     "a\xF0\x9F\x98\x80", "-a-\xF0\x9F\x98\x80-"},
    {"Perl's rule: an empty match may follow a longer one", u"a*", u"-", false, "aab", "--b-"},
    {"letter case folded beyond ASCII", u"\u00E9t\u00E9", u"summer", false,
     "\xC3\x89T\xC3\x89 2020.jpg", "summer 2020.jpg"},
    {"case folding of Greek final sigma", u"\u03A3", u"s", false, "\xCF\x82.txt", "s.txt"},
    {"case folding of capital sharp s", u"stra\u00DFe", u"road", false,
     "STRA\xE1\xBA\x9E"
     "E.txt",
     "road.txt"},
    {"case sensitive: no folding", u"\u00E9t\u00E9", u"summer", true, "\xC3\x89T\xC3\x89.jpg",
     "\xC3\x89T\xC3\x89.jpg"},
    {"digits of any script with \\d", u"\\d+", u"#", false, "a\xD9\xA3\xD9\xA4.txt", "a#.txt"},
    {"an undecodable byte is kept through a group", u"^(.*)_(\\d{4})", u"$2 $1", false,
     "caf\xE9_2024.jpg", "2024 caf\xE9.jpg"},
    {"an undecodable byte matches as U+FFFD", u"f\uFFFD", u"fe", false, "caf\xE9\xFF.txt",
     "cafe\xFF.txt"},
    {"forbidden characters of the replacement still become _", u"-", u"/", false, "a-b.txt",
     "a_b.txt"},
    {"no match: the name stays", u"zzz", u"y", false, "abc.txt", "abc.txt"},
};
INSTANTIATE_TEST_SUITE_P(Cases, RegexPass, ::testing::ValuesIn(kRegexCases));

// Without the option, find and replace stays plain text.
TEST(RegexOption, OffMatchesPlainText) {
    RenameOptions options;
    options.findText = u"a.c";
    options.replaceText = u"$$1";
    NameRegistry registry;
    EXPECT_EQ(ComputeNewName(options, u"/x/abc a.c.txt", 1, registry), u"abc $$1.txt");
    options.regex = true;
    EXPECT_EQ(ComputeNewName(options, u"/x/abc a.c.txt", 1, registry), u"$1 $1.txt");
}

struct ErrorCase {
    const char* what;
    const char16_t* find;
    const char16_t* replace;
    RegexError::Field field;
    std::size_t offset;
};

class RegexErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RegexErrors, NameFieldAndPlace) {
    const ErrorCase& c = GetParam();
    auto compiled = RegexReplacer::Compile(c.find, c.replace, false);
    const RegexError* error = std::get_if<RegexError>(&compiled);
    ASSERT_NE(error, nullptr) << c.what;
    EXPECT_EQ(error->field, c.field) << c.what;
    EXPECT_EQ(error->offset, c.offset) << c.what;
    EXPECT_FALSE(error->message.empty()) << c.what;
}

const ErrorCase kErrorCases[] = {
    {"unclosed group", u"ab(c", u"", RegexError::Field::kFind, 4},
    {"nothing to repeat", u"*a", u"", RegexError::Field::kFind, 0},
    {"a lone surrogate in the pattern", u"a\xDC80", u"", RegexError::Field::kFind, 1},
    {"group number beyond the groups", u"(a)(b)", u"x$3", RegexError::Field::kReplace, 1},
    {"unknown group name", u"(?<a>x)", u"${b}", RegexError::Field::kReplace, 0},
    {"unclosed group name", u"(?<a>x)", u"ok ${a", RegexError::Field::kReplace, 3},
};
INSTANTIATE_TEST_SUITE_P(Cases, RegexErrors, ::testing::ValuesIn(kErrorCases));

// A pattern that does not compile replaces nothing; the composer says why.
TEST(RegexOption, InvalidPatternLeavesNamesWithoutReplacement) {
    RenameOptions options;
    options.regex = true;
    options.findText = u"(a";
    options.replaceText = u"b";
    NewNameComposer composer(options);
    ASSERT_NE(composer.RegexFailure(), nullptr);
    EXPECT_EQ(composer.Compose(SplitPath(u"/x/aaa.txt"), 1), u"aaa.txt");
    EXPECT_FALSE(composer.RegexStopped());
}

// pattern is stopped on name within a second, and name stays as it was.
void ExpectStoppedInTime(const char16_t* pattern, const std::u16string& name) {
    auto compiled = RegexReplacer::Compile(pattern, u"x", false);
    ASSERT_TRUE(std::holds_alternative<RegexReplacer>(compiled));
    RegexReplacer& replacer = std::get<RegexReplacer>(compiled);
    std::u16string text = name;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(replacer.ReplaceAll(text)) << EncodeFileName(pattern);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(text, name);
}

// Catastrophic backtracking: the match limit stops the search.
TEST(RegexLimits, CatastrophicPatternIsStoppedOnALongName) {
    const std::u16string name = std::u16string(200, u'a') + u"!";
    for (const char16_t* pattern : {u"(a+)+$", u"(a|aa)+$", u"^(\\w+\\s?)+$"})
        ExpectStoppedInTime(pattern, name);
}

// Many matches, each slow but within the match limit: the time limit per
// name stops them between two searches.
TEST(RegexLimits, ManySlowMatchesAreStoppedByTheTimeLimit) {
    std::u16string name;
    for (int i = 0; i < 1000; ++i)
        name += u"x" + std::u16string(23, u'a') + u"!";
    ExpectStoppedInTime(u"x(?:(?:a|aa)+$)?", name);
}

// In a pass, stopped rows are marked; after a few of them the pass no longer
// tries the pattern, so many such names cannot freeze it.
TEST(RegexLimits, PassMarksStoppedRowsAndGivesUp) {
    RenameList list;
    list.AddItem(u"/x/b.txt");  // row 0 matches quickly
    for (int i = 0; i < 200; ++i)
        list.AddItem(u"/x/" + std::u16string(60 + i % 50, u'a') + u"!" +
                     AsciiToU16(std::to_string(i)));
    RenameOptions options;
    options.regex = true;
    options.findText = u"^(a+)+$|b";
    options.replaceText = u"c";
    NameRegistry registry;
    const auto start = std::chrono::steady_clock::now();
    const NameList names = ComputeNewNames(list, IdentityRows(list.Count()), options, registry);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(names[0], u"c.txt");
    ASSERT_EQ(names.RegexStoppedRows().size(), 200u);
    EXPECT_FALSE(names.RegexStopped(0));
    EXPECT_TRUE(names.RegexStopped(1));
    EXPECT_TRUE(names.RegexStopped(200));
    EXPECT_EQ(names[1].substr(0, 3), u"aaa");
}

// Copies share the pattern and match on their own, as the threads of a pass do.
TEST(RegexReplacerCopies, MatchIndependently) {
    auto compiled = RegexReplacer::Compile(u"(\\d+)", u"<$1>", true);
    RegexReplacer first = std::get<RegexReplacer>(std::move(compiled));
    RegexReplacer second(first);
    std::u16string a = u"a1b22";
    std::u16string b = u"333";
    EXPECT_TRUE(first.ReplaceAll(a));
    EXPECT_TRUE(second.ReplaceAll(b));
    EXPECT_EQ(a, u"a<1>b<22>");
    EXPECT_EQ(b, u"<333>");
}

}  // namespace
}  // namespace morix
