// Which texts are web addresses: one row per case, the row says what it checks.
#include "os/web_address.h"

#include <gtest/gtest.h>

#include <string>

namespace morix {
namespace {

struct AddressCase {
    const char* what;
    std::u16string address;
    bool web;
};

void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << c.what;
}

class WebAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(WebAddressTest, DecidesLikeTheTable) {
    const AddressCase& c = GetParam();
    EXPECT_EQ(IsWebAddress(c.address), c.web) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WebAddressTest,
    ::testing::Values(
        // Plain addresses.
        AddressCase{"http with a path", u"http://example.com/", true},
        AddressCase{"https with port, query and fragment", u"https://example.com:8443/a?b=c#d",
                    true},
        AddressCase{"host alone", u"http://example.com", true},
        AddressCase{"query right after the host", u"http://example.com?x", true},
        AddressCase{"fragment right after the host", u"http://example.com#top", true},
        AddressCase{"search address", u"https://www.google.com/search?q=a+b&hl=en", true},
        AddressCase{"dotted IPv4 host", u"http://127.0.0.1:8080/morix/version", true},
        AddressCase{"final dot of a fully qualified name", u"http://example.com./", true},
        AddressCase{"underscore in a label", u"http://ex_ample.com/", true},
        AddressCase{"international name", u"http://\u4F8B\u3048.jp/", true},

        // Upper case scheme and host.
        AddressCase{"upper-case scheme and host", u"HTTP://EXAMPLE.COM/", true},
        AddressCase{"mixed-case https", u"HtTpS://example.com/", true},

        // Path, query and fragment take what browsers take.
        AddressCase{"bar in a query (font lists)",
                    u"https://fonts.googleapis.com/css?family=Roboto|Open+Sans", true},
        AddressCase{"braces in a query", u"http://example.com/?q={x}", true},
        AddressCase{"percent escapes", u"http://example.com/path%20with%20spaces", true},
        AddressCase{"percent sign without digits", u"http://example.com/100%", true},
        AddressCase{"non-ASCII path", u"http://example.com/\u00FC", true},
        AddressCase{"backslash in the path", u"http://example.com/a\\b", true},

        // User information.
        AddressCase{"user and password", u"http://user:pw@example.com/", true},
        AddressCase{"escaped user name", u"http://us%40er@example.com/", true},
        AddressCase{"empty user part", u"http://@example.com/", true},
        AddressCase{"two @ signs", u"https://a.b@c.d@e.f/", false},
        AddressCase{"backslash before @ (the host would differ between readers)",
                    u"http://example.com\\@evil.com/", false},
        AddressCase{"user but no host", u"http://user@/", false},

        // Ports.
        AddressCase{"highest port", u"http://example.com:65535/", true},
        AddressCase{"empty port", u"http://example.com:/", true},
        AddressCase{"port out of range", u"http://example.com:99999/", false},
        AddressCase{"port 65536", u"http://example.com:65536/", false},
        AddressCase{"port zero", u"http://example.com:0/", false},
        AddressCase{"two ports", u"http://example.com:8080:90/", false},
        AddressCase{"port with a letter", u"http://example.com:80a/", false},
        AddressCase{"port but no host", u"http://:80/", false},

        // IPv6 literals.
        AddressCase{"IPv6 loopback with port", u"http://[::1]:8080/", true},
        AddressCase{"full IPv6", u"http://[2001:db8:0:0:0:0:2:1]/", true},
        AddressCase{"IPv6 with IPv4 tail", u"http://[::ffff:1.2.3.4]/", true},
        AddressCase{"IPv6 ending in ::", u"http://[fe80::]/", true},
        AddressCase{"IPv6 unclosed", u"http://[::1/", false},
        AddressCase{"IPv6 with nine groups", u"http://[1:2:3:4:5:6:7:8:9]/", false},
        AddressCase{"IPv6 with two ::", u"http://[1::2::3]/", false},
        AddressCase{"IPv6 group of five digits", u"http://[12345::1]/", false},
        AddressCase{"IPv6 with a zone", u"http://[fe80::1%25eth0]/", false},
        AddressCase{"IPv6 with a bad IPv4 tail", u"http://[::ffff:1.2.3.256]/", false},
        AddressCase{"IPv6 ending in one colon", u"http://[1:2:3:4:5:6:7:]/", false},
        AddressCase{"text after the brackets", u"http://[::1]x/", false},
        AddressCase{"empty brackets", u"http://[]/", false},
        AddressCase{"unbracketed IPv6", u"http://::1/", false},

        // Missing or malformed host.
        AddressCase{"nothing after the scheme", u"http://", false},
        AddressCase{"path straight after the scheme", u"http:///x", false},
        AddressCase{"query straight after the scheme", u"http://?x", false},
        AddressCase{"fragment straight after the scheme", u"https://#x", false},
        AddressCase{"one slash", u"http:/example.com", false},
        AddressCase{"no slashes", u"http:example.com", false},
        AddressCase{"empty label", u"http://a..b/", false},
        AddressCase{"label starting with a hyphen", u"http://-x-.com/", false},
        AddressCase{"escaped host", u"http://%65xample.com/", false},
        AddressCase{"host of a dot", u"http://./", false},

        // Blanks and control characters.
        AddressCase{"empty text", u"", false},
        AddressCase{"space before", u" http://example.com/", false},
        AddressCase{"space after", u"http://example.com/ ", false},
        AddressCase{"line feed after", u"http://example.com/\n", false},
        AddressCase{"space in the path", u"http://example.com/a b", false},
        AddressCase{"space in the host", u"http://exa mple.com/", false},
        AddressCase{"tab in the query", u"http://example.com/?a=\tb", false},
        AddressCase{"no-break space in the path", u"http://example.com/a\u00A0b", false},
        AddressCase{"ideographic space after", u"http://example.com/\u3000", false},
        AddressCase{"control character", u"http://example.com/\u0001", false},
        AddressCase{"delete character", u"http://example.com/\u007F", false},

        // Other schemes.
        AddressCase{"ftp", u"ftp://example.com/", false},
        AddressCase{"file", u"file:///etc/passwd", false},
        AddressCase{"javascript", u"javascript:alert(1)", false},
        AddressCase{"data", u"data:text/html,<p>x</p>", false},
        AddressCase{"scheme that only starts like http", u"httpx://example.com/", false},
        AddressCase{"relative address", u"/morix/version", false},
        AddressCase{"host without scheme", u"example.com", false}));

}  // namespace
}  // namespace morix
