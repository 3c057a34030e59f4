// The name template language, one row per rule.
#include "engine/name_template.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "engine/file_info.h"
#include "support/temp_dir.h"

namespace morix {
namespace {

using testing::ScopedTimeZone;
using testing::TempDir;

struct TemplateCase {
    const char* what;
    std::u16string nameTemplate;
    std::string fileName;  // inside the fixture's folder; "" = a file that does not exist
    std::int32_t number;
    std::u16string expected;
};

// Files of the fixture: example.jpg modified 2003-10-04 03:10:45 UTC (the
// tests run in UTC), holiday2003_07.jpg, and files of known sizes.
class TemplateFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        zone_ = new ScopedTimeZone("UTC");
        dir_ = new TempDir();
        TempDir::SetModified(dir_->MakeFile("example.jpg", 10), 1065237045);
        TempDir::SetModified(dir_->MakeFile("april.txt"), 1049897107);
        dir_->MakeFile("holiday2003_07.jpg");
        dir_->MakeFile("small.bin", 1023);
        dir_->MakeFile("two-k.bin", 2048);
        dir_->MakeFile("abc.txt");
        dir_->MakeFolder("Photos");
        dir_->MakeFile("Photos/x.jpg");
    }
    static void TearDownTestSuite() {
        delete dir_;
        delete zone_;
    }
    static std::u16string PathOf(const std::string& name) {
        return dir_->U16Path(name.empty() ? "vanished.dat" : name);
    }

    static inline TempDir* dir_ = nullptr;
    static inline ScopedTimeZone* zone_ = nullptr;
};

class TemplateTable : public TemplateFiles, public ::testing::WithParamInterface<TemplateCase> {};

TEST_P(TemplateTable, Expands) {
    const TemplateCase& c = GetParam();
    EXPECT_EQ(NameTemplate::Expand(c.nameTemplate, PathOf(c.fileName), c.number), c.expected)
        << c.what;
    // Facts read ahead of a pass must give the same name as asking the disk.
    const FileFacts facts = ReadFileFacts(PathOf(c.fileName));
    std::u16string withFacts = u"prefix";
    NameTemplate(c.nameTemplate)
        .ExpandInto(withFacts, SplitPath(PathOf(c.fileName)), c.number, &facts);
    EXPECT_EQ(withFacts, u"prefix" + c.expected) << c.what;
}

TEST_F(TemplateFiles, GivenFactsReplaceTheDisk) {
    FileFacts facts;
    facts.size = 5 * 1024;
    facts.modified = 1049897107LL * 1000000000;  // 2003-04-09 14:05:07 UTC
    std::u16string out;
    NameTemplate(u"<YYMMDD-HHmmss>_<z>_<zKB>")
        .ExpandInto(out, SplitPath(PathOf("example.jpg")), 1, &facts);
    EXPECT_EQ(out, u"030409-140507_5120_5");
    out.clear();
    const FileFacts unreadable;
    NameTemplate(u"<YYYY>_<z>").ExpandInto(out, SplitPath(PathOf("example.jpg")), 1, &unreadable);
    EXPECT_EQ(out, u"_0");
}

TEST(TemplateReadsFiles, OnlyClosedTokensWithSizeOrFileTime) {
    EXPECT_TRUE(NameTemplate(u"<z>").ReadsFileFacts());
    EXPECT_TRUE(NameTemplate(u"a<N><YYYY>").ReadsFileFacts());
    EXPECT_TRUE(NameTemplate(u"<TYYYY><m>").ReadsFileFacts());
    EXPECT_TRUE(NameTemplate(u"<zKB>").ReadsFileFacts());
    EXPECT_TRUE(NameTemplate(u"<Nm>").ReadsFileFacts());
    EXPECT_FALSE(NameTemplate(u"<TYYYYMMDD>_<THHmmss>").ReadsFileFacts());
    EXPECT_FALSE(NameTemplate(u"<N>_<E>_<P>_###").ReadsFileFacts());
    EXPECT_FALSE(NameTemplate(u"YYYY z").ReadsFileFacts());
    EXPECT_FALSE(NameTemplate(u"<YYYY").ReadsFileFacts());
    EXPECT_FALSE(NameTemplate(u"").ReadsFileFacts());
}

const TemplateCase kCases[] = {
    {"plain text stays", u"photo", "abc.txt", 1, u"photo"},
    {"number padded to the run", u"IMG_###", "abc.txt", 5, u"IMG_005"},
    {"number never shortened", u"IMG_###", "abc.txt", 12345, u"IMG_12345"},
    {"single # is the bare number", u"#", "abc.txt", 7, u"7"},
    {"two runs", u"#-##", "abc.txt", 3, u"3-03"},
    {"negative after wrap-around", u"###", "abc.txt", -5, u"-05"},
    {"colon is forbidden", u"a:b", "abc.txt", 1, u"a_b"},
    {"stray > is forbidden", u"x>y", "abc.txt", 1, u"x_y"},
    {"every forbidden character", u"a\"*/:?\\|b", "abc.txt", 1, u"a_______b"},
    {"file date and time", u"<YYYY-MM-DD> <HH_mm_ss>", "example.jpg", 1, u"2003-10-04 03_10_45"},
    {"compact date", u"<YYYYMMDD>", "example.jpg", 1, u"20031004"},
    {"two-digit year", u"<YYMMDD>", "example.jpg", 1, u"031004"},
    {"one Y keeps the last digit", u"<Y>", "example.jpg", 1, u"3"},
    {"six Y pad the year", u"<YYYYYY>", "example.jpg", 1, u"002003"},
    {"one M is not shortened", u"<M>", "example.jpg", 1, u"10"},
    {"one M in April", u"<M>-<D>-<H>", "april.txt", 1, u"4-9-14"},
    {"minutes and seconds are lower case", u"<HHmmss>", "april.txt", 1, u"140507"},
    {"other letters are plain", u"<dhyS>", "example.jpg", 1, u"dhyS"},
    {"free mix of letters", u"<YYYY.MM>", "example.jpg", 1, u"2003.10"},
    {"vanished file: time fields empty", u"<YYYY-MM-DD>", "", 1, u"--"},
    {"vanished file: size 0", u"<z>", "", 1, u"0"},
    {"extension token", u"<E>", "holiday2003_07.jpg", 1, u"jpg"},
    {"whole name", u"<N>", "holiday2003_07.jpg", 1, u"holiday2003_07"},
    {"name without digits", u"<NS>", "holiday2003_07.jpg", 1, u"holiday_"},
    {"digits of the name", u"<ND>", "holiday2003_07.jpg", 1, u"200307"},
    {"range start and length", u"<N2,3>", "holiday2003_07.jpg", 1, u"lid"},
    {"range start", u"<N7>", "holiday2003_07.jpg", 1, u"2003_07"},
    {"range length", u"<N,4>", "holiday2003_07.jpg", 1, u"holi"},
    {"range past the end", u"<N9>", "abc.txt", 1, u""},
    {"length past the end", u"<N1,99>", "abc.txt", 1, u"bc"},
    {"huge start is empty", u"<N99999999999999999999>", "abc.txt", 1, u""},
    {"full-width digits in a range", u"<N\uFF12,\uFF13>", "holiday2003_07.jpg", 1, u"lid"},
    {"comma without length", u"<N2,>", "abc.txt", 1, u"c"},
    {"extension then name", u"<EN>", "holiday2003_07.jpg", 1, u"jpgholiday2003_07"},
    {"S filters the whole body", u"<ENS>", "holiday2003_07.jpg", 1, u"jpgholiday_"},
    {"D keeps digits of the whole body", u"<z-ND>", "two-k.bin", 1, u"2048"},
    {"folder name", u"<P>", "Photos/x.jpg", 1, u"Photos"},
    {"size in bytes", u"<z>", "small.bin", 1, u"1023"},
    {"size rounds down to KiB", u"<zKB>", "small.bin", 1, u"0"},
    {"size in KiB", u"<zKB>", "two-k.bin", 1, u"2"},
    {"lower-case kb is text", u"<zkb>", "two-k.bin", 1, u"2048kb"},
    {"empty token", u"a<>b", "abc.txt", 1, u"ab"},
    {"# inside a token is plain", u"<#>", "abc.txt", 9, u"#"},
    {"unclosed token", u"<abc", "abc.txt", 1, u"_abc"},
    {"unclosed token with number", u"<ab#c", "abc.txt", 3, u"_ab3c"},
    {"unclosed token, forbidden char", u"<a|b", "abc.txt", 1, u"_a_b"},
    {"unclosed token is scanned again from its #", u"<a#x<N", "abc.txt", 2, u"_a2x_N"},
    {"a < in a closed token", u"<a#<N>", "abc.txt", 2, u"a#_abc"},
    {"< inside a token", u"<a<b>", "abc.txt", 1, u"a_b"},
    {"token then number", u"<N>_###", "abc.txt", 42, u"abc_042"},
};
INSTANTIATE_TEST_SUITE_P(Rules, TemplateTable, ::testing::ValuesIn(kCases));

TEST_F(TemplateFiles, CurrentTimeTokensUseTheClock) {
    const std::optional<LocalTime> before = CurrentLocalTime();
    const std::u16string today = NameTemplate::Expand(u"<TYYYYMMDD>", PathOf("example.jpg"), 1);
    const std::u16string mixed = NameTemplate::Expand(u"<YYYY-TMM>", PathOf("example.jpg"), 1);
    const std::optional<LocalTime> after = CurrentLocalTime();
    ASSERT_TRUE(before && after);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%04d%02d%02d", before->year, before->month,
                  before->day);
    char expectedAfter[32];
    std::snprintf(expectedAfter, sizeof expectedAfter, "%04d%02d%02d", after->year, after->month,
                  after->day);
    EXPECT_TRUE(today == AsciiToU16(expected) || today == AsciiToU16(expectedAfter))
        << today.size();
    // The year comes from the file, the month from the clock.
    ASSERT_EQ(mixed.size(), 7u);
    EXPECT_EQ(mixed.substr(0, 5), u"2003-");
    const int month = (mixed[5] - u'0') * 10 + (mixed[6] - u'0');
    EXPECT_TRUE(month == before->month || month == after->month);
}

TEST_F(TemplateFiles, ExpandTokenWorksOnABody) {
    EXPECT_EQ(NameTemplate::ExpandToken(u"N,3", PathOf("abc.txt")), u"abc");
    EXPECT_EQ(NameTemplate::ExpandToken(u"", PathOf("abc.txt")), u"");
}

}  // namespace
}  // namespace morix
