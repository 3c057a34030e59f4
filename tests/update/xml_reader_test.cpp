// The XML reader's rules, its quirks and its failures.
#include "update/xml_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace morix {
namespace {

// The text in a buffer of exactly its length plus the terminator, so that
// AddressSanitizer reports any read past the end.
struct Parsed {
    std::vector<char16_t> buffer;
    XmlNode root;
    const char16_t* end = nullptr;

    // Units consumed, or -1 when the load failed.
    long Consumed() const { return end ? static_cast<long>(end - buffer.data()) : -1; }
    std::u16string Rest() const { return end ? std::u16string(end) : u"<failed>"; }
};

std::unique_ptr<Parsed> Parse(std::u16string_view text, XmlParseOptions& options) {
    auto p = std::make_unique<Parsed>();
    p->buffer.assign(text.begin(), text.end());
    p->buffer.push_back(0);
    p->end = LoadElement(p->root, p->buffer.data(), options);
    return p;
}

std::u16string Attr(const XmlNode& node, std::u16string_view name) {
    const std::u16string* value = node.GetAttribute(name);
    return value ? *value : u"<none>";
}

TEST(XmlReaderTest, ReadsTheRootPastDeclarationCommentsAndLeadingBytes) {
    XmlParseOptions options;
    const auto p = Parse(
        u"\uFEFFjunk<?xml version=\"1.0\"?>\n<!-- top -->\n<![CDATA[x]]>"
        u"<version current=\"1.8.0.1\" url='http://h/p'><toast sid=\"s\"/></version>tail",
        options);
    ASSERT_NE(p->end, nullptr);
    EXPECT_EQ(p->Rest(), u"tail");
    EXPECT_EQ(p->root.name, u"version");
    EXPECT_EQ(Attr(p->root, u"current"), u"1.8.0.1");
    EXPECT_EQ(Attr(p->root, u"url"), u"http://h/p");
    ASSERT_EQ(p->root.ChildCount(), 1u);
    EXPECT_EQ(p->root.GetChildAt(0)->name, u"toast");
    EXPECT_EQ(p->root.GetChildAt(0)->parent, &p->root);
    EXPECT_EQ(p->root.GetChildAt(1), nullptr);
    EXPECT_FALSE(options.errorOccurred);
}

TEST(XmlReaderTest, AttributeForms) {
    XmlParseOptions options;
    const auto p = Parse(
        u"<e a=\"1\" b='2' c=3 d a=\"again\" q=\"say \\\"hi\\\"\" "
        u"m=\"x &amp; y &#65; &lt;&gt;&quot;&apos; &AMP;\" s = \"spaced\" />",
        options);
    ASSERT_NE(p->end, nullptr);
    const XmlNode& e = p->root;
    ASSERT_EQ(e.attributes.size(), 8u);
    EXPECT_EQ(e.attributes[3]->name, u"d");
    EXPECT_EQ(e.attributes[3]->value, u"");
    EXPECT_EQ(e.attributes[3]->owner, &e);
    EXPECT_EQ(Attr(e, u"a"), u"1");  // the first of duplicates
    EXPECT_EQ(e.attributes[4]->value, u"again");
    EXPECT_EQ(Attr(e, u"b"), u"2");
    EXPECT_EQ(Attr(e, u"c"), u"3");
    EXPECT_EQ(Attr(e, u"q"), u"say \"hi\"");
    EXPECT_EQ(Attr(e, u"m"), u"x & y &#65; <>\"' &AMP;");
    EXPECT_EQ(Attr(e, u"s"), u"spaced");
    EXPECT_EQ(Attr(e, u"A"), u"<none>");  // names are case-sensitive

    XmlParseOptions raw;
    raw.decodeEntities = false;
    raw.trim = true;
    const auto r = Parse(u"<e m=\"  x &amp; y  \" n=\"\\\\z\"/>", raw);
    ASSERT_NE(r->end, nullptr);
    EXPECT_EQ(Attr(r->root, u"m"), u"x &amp; y");
    EXPECT_EQ(Attr(r->root, u"n"), u"\\z");
}

TEST(XmlReaderTest, TextValueIsTheFirstRunThatIsNotBlank) {
    XmlParseOptions options;
    {
        const auto p = Parse(u"<a>one<b/>two</a>", options);
        ASSERT_NE(p->end, nullptr);
        EXPECT_EQ(p->root.value, u"one");
        ASSERT_EQ(p->root.ChildCount(), 1u);
        EXPECT_EQ(p->root.GetChildAt(0)->name, u"b");
    }
    {
        const auto p = Parse(u"<a>  <b/>two<c/>three</a>", options);
        ASSERT_NE(p->end, nullptr);
        EXPECT_EQ(p->root.value, u"two");
        EXPECT_EQ(p->root.ChildCount(), 2u);
    }
    {
        // Escapes keep a "<" in the text; entities are decoded.
        const auto p = Parse(u"<a>1 \\< 2 &amp;&amp; 3</a>", options);
        ASSERT_NE(p->end, nullptr);
        EXPECT_EQ(p->root.value, u"1 < 2 && 3");
    }
    {
        XmlParseOptions trimming;
        trimming.trim = true;
        const auto p = Parse(u"<a>\n  padded \t</a>", trimming);
        ASSERT_NE(p->end, nullptr);
        EXPECT_EQ(p->root.value, u"padded");
    }
    EXPECT_FALSE(options.errorOccurred);
}

TEST(XmlReaderTest, CommentsAndCDataAmongChildrenAreChildren) {
    XmlParseOptions options;
    const auto p =
        Parse(u"<a><b/><!-- note --><![CDATA[<raw> &amp;]]><?pi x?><c>t</c></a>", options);
    ASSERT_NE(p->end, nullptr);
    ASSERT_EQ(p->root.ChildCount(), 4u);
    const XmlNode* comment = p->root.GetChildAt(1);
    EXPECT_EQ(comment->name, u"#COMMENT");
    EXPECT_EQ(comment->type, XmlNodeType::kComment);
    EXPECT_EQ(comment->value, u" note ");
    EXPECT_EQ(comment->parent, &p->root);
    const XmlNode* cdata = p->root.GetChildAt(2);
    EXPECT_EQ(cdata->name, u"#CDATA");
    EXPECT_EQ(cdata->type, XmlNodeType::kCData);
    EXPECT_EQ(cdata->value, u"<raw> &amp;");
    EXPECT_EQ(p->root.GetChildAt(3)->name, u"c");
    EXPECT_EQ(p->root.GetChildAt(3)->value, u"t");
}

TEST(XmlReaderTest, ClosingTagsAndTheEndOfTheText) {
    XmlParseOptions options;
    // Missing closing tags at the very end are accepted.
    const auto open = Parse(u"<a><b/>", options);
    EXPECT_EQ(open->Consumed(), 7);
    EXPECT_EQ(open->root.ChildCount(), 1u);
    // An escape character as the last unit is dropped, never stepped over.
    const auto trailing = Parse(u"<a>text\\", options);
    EXPECT_EQ(trailing->Consumed(), 8);
    EXPECT_EQ(trailing->root.value, u"text");
    // A space before ">" leaves the position at the ">".
    EXPECT_EQ(Parse(u"<a></a >x", options)->Rest(), u">x");
    EXPECT_EQ(Parse(u"<a></ a>x", options)->Rest(), u"x");
    // A closing tag first belongs to an enclosing element.
    const auto closing = Parse(u"  </z><a/>", options);
    EXPECT_EQ(closing->Consumed(), 2);
    EXPECT_EQ(closing->root.name, u"");
    EXPECT_FALSE(options.errorOccurred);
}

struct FailureCase {
    const char16_t* text;
    std::int32_t code;  // kXmlErrorNone: the load fails without an error
    const char16_t* message;
    long errorOffset;
};

TEST(XmlReaderTest, FailuresAndTheirErrors) {
    const FailureCase cases[] = {
        {u"<a><b></a>", kXmlErrorMismatchedClosingTag, u"'<b> ... </a>' is not wel-formed.", 8},
        {u"<a/", kXmlErrorUnclosedElement, u"Element must be closed.", 2},
        {u"<a x=1 /b>", kXmlErrorUnclosedElement, u"Element must be closed.", 7},
        {u"<a><b/></a", kXmlErrorUnterminatedClosingTag, u"it must be closed with </a>", 10},
        {u"<a b", kXmlErrorBadAttribute, u"<a> attribute has error ", 4},
        {u"<a b>text</a>", kXmlErrorBadAttribute, u"<a> attribute has error ", 13},
        {u"no markup at all", kXmlErrorNone, u"", 0},
        {u"<abc", kXmlErrorNone, u"", 0},
        {u"<a x=\"unclosed", kXmlErrorNone, u"", 0},
        {u"<a x='unclosed\\'", kXmlErrorNone, u"", 0},
        {u"<a><!-- open", kXmlErrorNone, u"", 0},
        {u"<a><![CDATA[ open ]]", kXmlErrorNone, u"", 0},
        {u"<?xml open ?", kXmlErrorNone, u"", 0},
        {u"<!-- only a comment -->", kXmlErrorNone, u"", 0},
        {u"<a>x<b/>tail", kXmlErrorNone, u"", 0},
        {u"", kXmlErrorNone, u"", 0},
    };
    for (const FailureCase& c : cases) {
        XmlParseOptions options;
        const auto p = Parse(c.text, options);
        const std::u16string text = c.text;
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        EXPECT_EQ(p->end, nullptr);
        EXPECT_EQ(options.errorOccurred, c.code != kXmlErrorNone);
        EXPECT_EQ(options.errorCode, c.code);
        EXPECT_EQ(options.errorMessage, c.message);
        if (c.code != kXmlErrorNone) {
            EXPECT_EQ(options.errorPosition - p->buffer.data(), c.errorOffset);
        }
    }
}

TEST(XmlReaderTest, ForceParseAcceptsAMismatchedClosingTag) {
    XmlParseOptions options;
    options.forceParse = true;
    const auto p = Parse(u"<a><b></a>", options);
    ASSERT_NE(p->end, nullptr);
    EXPECT_EQ(p->root.name, u"a");
    ASSERT_EQ(p->root.ChildCount(), 1u);
    EXPECT_EQ(p->root.GetChildAt(0)->name, u"b");
    EXPECT_FALSE(options.errorOccurred);
}

TEST(XmlReaderTest, OnlyTheFirstErrorIsKeptAndAFailedLoadKeepsItsPartialTree) {
    XmlParseOptions options;
    const auto first = Parse(u"<a><b/><c></a>", options);
    EXPECT_EQ(first->end, nullptr);
    EXPECT_EQ(first->root.name, u"a");
    ASSERT_EQ(first->root.ChildCount(), 2u);  // b and the unfinished c
    EXPECT_EQ(options.errorCode, kXmlErrorMismatchedClosingTag);
    const std::u16string message = options.errorMessage;

    EXPECT_EQ(Parse(u"<a/", options)->end, nullptr);
    EXPECT_EQ(options.errorCode, kXmlErrorMismatchedClosingTag);
    EXPECT_EQ(options.errorMessage, message);
    // Parsing itself still works.
    EXPECT_NE(Parse(u"<ok/>", options)->end, nullptr);

    // The shared default record starts out as documented.
    XmlParseOptions& shared = DefaultXmlParseOptions();
    EXPECT_EQ(&shared, &DefaultXmlParseOptions());
    EXPECT_FALSE(shared.trim);
    EXPECT_TRUE(shared.decodeEntities);
    EXPECT_EQ(shared.entities, &DefaultXmlEntities());
    EXPECT_EQ(shared.escape, u'\\');
    EXPECT_FALSE(shared.forceParse);
    ASSERT_EQ(DefaultXmlEntities().size(), 5u);
    EXPECT_EQ(DefaultXmlEntities()[0].reference, u"&amp;");
}

TEST(XmlReaderTest, ReloadingANodeStartsFromScratch) {
    XmlParseOptions options;
    auto p = Parse(u"<old k=\"v\">text<x/></old>", options);
    const std::u16string again = u"<new/>";
    ASSERT_NE(LoadElement(p->root, again.c_str(), options), nullptr);
    EXPECT_EQ(p->root.name, u"new");
    EXPECT_EQ(p->root.value, u"");
    EXPECT_EQ(p->root.ChildCount(), 0u);
    EXPECT_EQ(p->root.attributes.size(), 0u);
}

TEST(XmlReaderTest, DeepNestingFailsInsteadOfExhaustingTheStack) {
    std::u16string deep;
    for (int i = 0; i < 100000; ++i)
        deep += u"<a>";
    XmlParseOptions options;
    EXPECT_EQ(Parse(deep, options)->end, nullptr);
    EXPECT_EQ(options.errorCode, kXmlErrorTooDeep);

    std::u16string fine;
    for (int i = 0; i < 200; ++i)
        fine += u"<a>";
    XmlParseOptions other;
    EXPECT_NE(Parse(fine, other)->end, nullptr);
}

// An answer as large as the checker takes: a long blank run, then many
// children. The blank value was scanned again after every child, which took
// minutes; reading it is linear now.
TEST(XmlReaderTest, ManyChildrenAfterALongBlankRunReadQuickly) {
    std::u16string answer = u"<version>" + std::u16string(400 * 1024, u' ');
    constexpr int kChildren = 150 * 1024;
    for (int i = 0; i < kChildren; ++i)
        answer += u"<b/>";
    answer += u"</version>";
    ASSERT_LE(answer.size(), 1024u * 1024u);
    XmlParseOptions options;
    const auto start = std::chrono::steady_clock::now();
    const auto p = Parse(answer, options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(p->Rest(), u"");
    EXPECT_EQ(p->root.ChildCount(), static_cast<std::size_t>(kChildren));
    EXPECT_EQ(p->root.value.size(), 400u * 1024u);
}

}  // namespace
}  // namespace morix
