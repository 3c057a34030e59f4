// Path functions and the character classes.
#include "engine/paths.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <set>

#include "engine/text.h"

namespace morix {
namespace {

TEST(PathFunctions, SplitNameExtensionAndFolder) {
    EXPECT_EQ(FileName(u"/home/ann/photo.jpg"), u"photo.jpg");
    EXPECT_EQ(FileName(u"photo.jpg"), u"photo.jpg");
    EXPECT_EQ(FileName(u"/home/ann/"), u"");
    EXPECT_EQ(Extension(u"/p/photo.jpg"), u"jpg");
    EXPECT_EQ(Extension(u"/p/archive.tar.gz"), u"gz");
    EXPECT_EQ(Extension(u"/p/README"), u"");
    EXPECT_EQ(Extension(u"/p/name."), u"");
    EXPECT_EQ(Extension(u"/p/.profile"), u"profile");
    // A dot in a folder name is not an extension.
    EXPECT_EQ(Extension(u"/docs.old/readme"), u"");
    EXPECT_EQ(Folder(u"/home/ann/photo.jpg"), u"/home/ann");
    EXPECT_EQ(Folder(u"/photo.jpg"), u"");
    EXPECT_EQ(Folder(u"photo.jpg"), u"");
    // A backslash is an ordinary character of a Linux name.
    EXPECT_EQ(FileName(u"/p/a\\b.txt"), u"a\\b.txt");
}

// A path split in two parts gives the whole path back, and its parent is the
// folder as Folder() gives it, at the root and without a folder too.
TEST(PathFunctions, PathPartsJoinToTheWholePath) {
    for (const std::u16string_view path :
         {u"/home/ann/photo.jpg", u"/photo.jpg", u"/", u"/home/ann/", u"photo.jpg", u"a/b", u""}) {
        const PathParts parts = SplitPath(path);
        EXPECT_EQ(parts.Whole(), path);
        EXPECT_EQ(parts.name, FileName(path));
        EXPECT_EQ(parts.Parent(), Folder(path));
    }
    EXPECT_EQ(SplitPath(u"/photo.jpg").folder, u"/");
    EXPECT_EQ(SplitPath(u"photo.jpg").folder, u"");
}

TEST(PathFunctions, RemoveAndJoinExtensions) {
    EXPECT_EQ(RemoveExtension(u"a.b.c"), u"a.b");
    EXPECT_EQ(RemoveExtension(u"name."), u"name.");
    EXPECT_EQ(RemoveExtension(u"README"), u"README");
    EXPECT_EQ(RemoveExtension(u".profile"), u"");
    EXPECT_EQ(JoinNameExt(u"a", u""), u"a");
    EXPECT_EQ(JoinNameExt(u"a", u"txt"), u"a.txt");
    EXPECT_EQ(JoinNameExt(u"", u"txt"), u".txt");
}

TEST(PathFunctions, CombinePathPutsExactlyOneSeparator) {
    EXPECT_EQ(CombinePath(u"/dir/", u"x.txt"), u"/dir/x.txt");
    EXPECT_EQ(CombinePath(u"/dir", u"/x.txt"), u"/dir/x.txt");
    EXPECT_EQ(CombinePath(u"/dir", u"x.txt"), u"/dir/x.txt");
    EXPECT_EQ(CombinePath(u"", u"x.txt"), u"/x.txt");
    EXPECT_EQ(CombinePath(u"", u"/x.txt"), u"/x.txt");
    EXPECT_EQ(CombinePath(u"/dir", u""), u"/dir");
}

TEST(PathFunctions, UniqueTempPathSkipsTakenNames) {
    std::set<std::u16string> taken = {u"/d/.morx$0.jpg", u"/d/.morx$1.jpg"};
    const auto exists = [&](const std::u16string& p) { return taken.count(p) > 0; };
    EXPECT_EQ(UniqueTempPath(u"/d", u".morx$", u"jpg", exists), u"/d/.morx$2.jpg");
    EXPECT_EQ(UniqueTempPath(u"/d", u".morx$", u"", exists), u"/d/.morx$0.");
    int calls = 0;
    const auto everything = [&](const std::u16string&) { return ++calls < 5; };
    EXPECT_EQ(UniqueTempPath(u"/d", u"t", u"x", everything), u"/d/t4.x");

    // Given out in a row, each name costs one question, not one per name
    // before it, and the numbers never come back.
    std::int64_t next = 0;
    calls = 0;
    const auto counted = [&](const std::u16string& p) { return ++calls, taken.count(p) > 0; };
    EXPECT_EQ(UniqueTempPath(u"/d", u".morx$", u"jpg", counted, &next), u"/d/.morx$2.jpg");
    EXPECT_EQ(next, 3);
    for (int i = 3; i < 1000; ++i)
        EXPECT_EQ(UniqueTempPath(u"/d", u".morx$", u"jpg", counted, &next),
                  u"/d/.morx$" + DecodeFileName(std::to_string(i)) + u".jpg");
    EXPECT_EQ(calls, 3 + 997);
}

TEST(PathFunctions, NormalizeLexicallyKeepsOnlyNamingComponents) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"/a//b", u"/a/b"},
        {u"/a/./b/.", u"/a/b"},
        {u"/a/b/../c", u"/a/c"},
        {u"/a/b/../../../c", u"/c"},  // the root's parent is the root
        {u"/..", u"/"},
        {u"//", u"/"},
        {u"/a/b/", u"/a/b"},
        {u"/a/..b/...", u"/a/..b/..."},  // only "." and ".." are special
        {u"/caf\xdce9/../x\xdcff", u"/x\xdcff"},
        {u"a/../../b", u"../b"},  // a relative path keeps what it cannot resolve
        {u"a/..", u"."},
        {u"./a", u"a"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(NormalizeLexically(in), out) << EncodeFileName(in);
    }
}

TEST(CharacterClasses, DigitsAndSpacesFollowUnicode) {
    EXPECT_TRUE(IsDigitChar(u'0'));
    EXPECT_TRUE(IsDigitChar(u'9'));
    EXPECT_TRUE(IsDigitChar(0xFF15));   // full-width five
    EXPECT_TRUE(IsDigitChar(0x00B2));   // superscript two
    EXPECT_TRUE(IsDigitChar(0x0663));   // Arabic-Indic three
    EXPECT_FALSE(IsDigitChar(0x00BD));  // vulgar fraction one half
    EXPECT_FALSE(IsDigitChar(u'a'));
    EXPECT_FALSE(IsDigitChar(0xFFFF));
    EXPECT_FALSE(IsDigitChar(0xDC80));

    for (char16_t c : {u'\t', u'\n', u'\r', u' ', char16_t(0x85), char16_t(0xA0), char16_t(0x3000),
                       char16_t(0x2003)}) {
        EXPECT_TRUE(IsSpaceChar(c)) << int(c);
    }
    EXPECT_FALSE(IsSpaceChar(u'_'));
    EXPECT_FALSE(IsSpaceChar(0x200B));  // zero width space is not white space
}

TEST(CharacterClasses, ExactlyNineCharactersAreForbiddenInNames) {
    const std::u16string forbidden = u"\"*/:<>?\\|";
    std::u16string found;
    for (char32_t c = 0; c <= 0xFFFF; ++c) {
        if (IsForbiddenNameChar(static_cast<char16_t>(c)))
            found.push_back(static_cast<char16_t>(c));
    }
    std::u16string expected = forbidden;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    std::u16string name = u"a" + forbidden + u"\u00fc\uFF1A";
    ReplaceForbiddenChars(name);
    EXPECT_EQ(name, u"a_________\u00fc\uFF1A");
}

TEST(CaseRules, OnlyAsciiLettersFold) {
    std::u16string s = u"Fïle ÄB zz";
    AsciiUpperInPlace(s);
    EXPECT_EQ(s, u"FïLE ÄB ZZ");
    AsciiLowerInPlace(s);
    EXPECT_EQ(s, u"fïle Äb zz");
    EXPECT_TRUE(EqualsNoCase(u"Report.TXT", u"report.txt"));
    EXPECT_FALSE(EqualsNoCase(u"Fïle", u"FÏLE"));
    EXPECT_EQ(CompareNoCase(u"abc", u"ABD"), -1);
    EXPECT_EQ(CompareNoCase(u"ab", u"AB"), 0);
    EXPECT_EQ(CompareNoCase(u"abc", u"AB"), 1);
    EXPECT_EQ(CompareExact(u"TXT", u"txt"), -1);
    EXPECT_EQ(NoCaseHash{}(u"Photo.JPG"), NoCaseHash{}(u"photo.jpg"));
}

TEST(FileNameCodec, EveryByteSequenceRoundTrips) {
    const std::string samples[] = {
        "plain.txt",
        "caf\xc3\xa9.txt",        // valid UTF-8
        "\xf0\x9f\x98\x80.png",   // outside the BMP
        "bad\xff\xfe.bin",        // not UTF-8 at all
        "latin1-\xe9t\xe9",       // Latin-1 bytes
        "trunc\xe2\x82",          // a cut-off sequence
        "\xed\xa0\x80surrogate",  // an encoded surrogate is invalid UTF-8
        "\xc0\xafoverlong",       // overlong form
    };
    for (const std::string& bytes : samples) {
        EXPECT_EQ(EncodeFileName(DecodeFileName(bytes)), bytes) << bytes;
    }
    EXPECT_EQ(DecodeFileName("caf\xc3\xa9"), u"café");
    EXPECT_EQ(DecodeFileName("a\xff"), (std::u16string{u'a', char16_t(0xDCFF)}));
    // Only escaped bytes turn back into raw bytes; other lone surrogates cannot.
    EXPECT_EQ(EncodeFileName(std::u16string{char16_t(0xD800)}), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace morix
