// What counts as a web address: the only kind of address morix opens or hands
// to tosk, and the only kind tosk loads. Header-only, because tosk links no
// code of morix yet must draw exactly the same line.
#pragma once

#include <cstddef>
#include <string_view>

namespace morix {

namespace web_address_detail {

constexpr bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

constexpr bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

constexpr bool IsHexDigit(char16_t c) {
    return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Control characters and every kind of space. An address is one word: it
// travels as a single command-line argument and is opened as it is, so a
// blank inside or around it means the text is something else.
constexpr bool IsBlankOrControl(char16_t c) {
    return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

constexpr bool StartsWithNoCase(std::u16string_view text, std::u16string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

// User name and password before "@": unreserved characters, sub-delimiters,
// ":" and percent escapes.
constexpr bool IsUserInfo(std::u16string_view s) {
    constexpr std::u16string_view kMarks = u"-._~!$&'()*+,;=:";
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'%') {
            if (i + 2 >= s.size() || !IsHexDigit(s[i + 1]) || !IsHexDigit(s[i + 2])) return false;
            i += 2;
        } else if (!IsAsciiLetter(s[i]) && !IsDigit(s[i]) &&
                   kMarks.find(s[i]) == std::u16string_view::npos) {
            return false;
        }
    }
    return true;
}

// Dot-separated labels of letters, digits, "-" and "_" (non-ASCII letters
// too, for international names); no empty label, none that starts or ends
// with "-"; one final dot is allowed. A dotted IPv4 address is such a name.
constexpr bool IsHostName(std::u16string_view s) {
    if (!s.empty() && s.back() == u'.') s.remove_suffix(1);
    if (s.empty()) return false;
    for (std::size_t start = 0;;) {
        std::size_t end = s.find(u'.', start);
        if (end == std::u16string_view::npos) end = s.size();
        const std::u16string_view label = s.substr(start, end - start);
        if (label.empty() || label.front() == u'-' || label.back() == u'-') return false;
        for (char16_t c : label) {
            if (!IsAsciiLetter(c) && !IsDigit(c) && c != u'-' && c != u'_' && c < 0x80)
                return false;
        }
        if (end == s.size()) return true;
        start = end + 1;
    }
}

constexpr bool IsIpv4Address(std::u16string_view s) {
    int parts = 0;
    for (std::size_t start = 0;;) {
        std::size_t end = s.find(u'.', start);
        if (end == std::u16string_view::npos) end = s.size();
        if (end == start || end - start > 3) return false;
        int value = 0;
        for (std::size_t i = start; i < end; ++i) {
            if (!IsDigit(s[i])) return false;
            value = value * 10 + (s[i] - u'0');
        }
        if (value > 255 || ++parts > 4) return false;
        if (end == s.size()) return parts == 4;
        start = end + 1;
    }
}

// Eight groups of one to four hex digits, "::" once for a run of zero
// groups, the last two groups optionally written as dotted IPv4. No zone:
// a link-local interface name means nothing to a page from the network.
constexpr bool IsIpv6Address(std::u16string_view s) {
    int groups = 0;
    bool compressed = false;
    std::size_t i = 0;
    if (s.substr(0, 2) == u"::") {
        compressed = true;
        i = 2;
    }
    while (i < s.size()) {
        std::size_t end = s.find(u':', i);
        if (end == std::u16string_view::npos) end = s.size();
        const std::u16string_view group = s.substr(i, end - i);
        if (group.find(u'.') != std::u16string_view::npos) {
            if (end != s.size() || !IsIpv4Address(group)) return false;
            groups += 2;
            break;
        }
        if (group.empty() || group.size() > 4) return false;
        for (char16_t c : group) {
            if (!IsHexDigit(c)) return false;
        }
        ++groups;
        if (end == s.size()) break;
        if (end + 1 < s.size() && s[end + 1] == u':') {
            if (compressed) return false;
            compressed = true;
            i = end + 2;
        } else {
            i = end + 1;
            if (i == s.size()) return false;  // a lone ":" at the end
        }
    }
    return compressed ? groups <= 7 : groups == 8;
}

// Empty (the scheme's own port), or a decimal number from 1 to 65535.
constexpr bool IsPort(std::u16string_view s) {
    if (s.size() > 5) return false;
    long value = 0;
    for (char16_t c : s) {
        if (!IsDigit(c)) return false;
        value = value * 10 + (c - u'0');
    }
    return s.empty() || (value >= 1 && value <= 65535);
}

}  // namespace web_address_detail

// Whether url is an absolute http or https address (scheme in any case) with
// a host: a name, dotted IPv4 or a bracketed IPv6 literal, optionally with
// user information before it and a port after it. Path, query and fragment
// may hold anything but blanks and control characters; the parts that decide
// which machine is reached are held to the standard grammar, so every reader
// of the address agrees on where it leads.
constexpr bool IsWebAddress(std::u16string_view url) {
    namespace d = web_address_detail;
    for (char16_t c : url) {
        if (d::IsBlankOrControl(c)) return false;
    }
    std::size_t start = 0;
    if (d::StartsWithNoCase(url, u"http://")) {
        start = 7;
    } else if (d::StartsWithNoCase(url, u"https://")) {
        start = 8;
    } else {
        return false;
    }
    std::u16string_view authority = url.substr(start);
    authority = authority.substr(0, authority.find_first_of(u"/?#"));

    const std::size_t at = authority.find(u'@');
    if (at != std::u16string_view::npos) {
        // Two "@" leave readers to disagree on which one ends the user part.
        if (authority.find(u'@', at + 1) != std::u16string_view::npos) return false;
        if (!d::IsUserInfo(authority.substr(0, at))) return false;
        authority.remove_prefix(at + 1);
    }

    std::u16string_view port;
    if (!authority.empty() && authority.front() == u'[') {
        const std::size_t close = authority.find(u']');
        if (close == std::u16string_view::npos || !d::IsIpv6Address(authority.substr(1, close - 1)))
            return false;
        const std::u16string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != u':') return false;
            port = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(u':');
        if (colon != std::u16string_view::npos) {
            port = authority.substr(colon + 1);
            authority = authority.substr(0, colon);
        }
        if (!d::IsHostName(authority)) return false;
    }
    return d::IsPort(port);
}

}  // namespace morix
