#include "engine/text.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace morix {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // a raw byte b is kept as U+DC00 + b

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not valid
// (overlong forms, surrogates and values above U+10FFFF are invalid).
std::size_t ValidSequenceLength(std::string_view s, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char b0 = byte(0);
    const std::size_t left = s.size() - i;
    const auto cont = [&](std::size_t k) { return k < left && (byte(k) & 0xC0) == 0x80; };
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (!cont(1)) return 0;
        cp = ((b0 & 0x1Fu) << 6) | (byte(1) & 0x3Fu);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        cp = ((b0 & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        cp = ((b0 & 0x07u) << 18) | ((byte(1) & 0x3Fu) << 12) | ((byte(2) & 0x3Fu) << 6) |
             (byte(3) & 0x3Fu);
        if (cp < 0x10000 || cp > 0x10FFFF) return 0;
        return 4;
    }
    return 0;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::u16string DecodeFileName(std::string_view bytes) {
    std::u16string out;
    AppendDecodedFileName(out, bytes);
    return out;
}

void AppendDecodedFileName(std::u16string& out, std::string_view bytes) {
    out.reserve(out.size() + bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {  // the common case, kept tight
            out.push_back(b);
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = ValidSequenceLength(bytes, i, cp);
        if (len == 0) {
            out.push_back(static_cast<char16_t>(kEscapeBase + b));
            ++i;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
            i += len;
        } else {
            out.push_back(static_cast<char16_t>(cp));
            i += len;
        }
    }
}

std::string EncodeFileName(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    AppendFileNameBytes(out, text);
    return out;
}

void AppendFileNameBytes(std::string& out, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Most names are ASCII: copy such runs in one step.
        std::size_t ascii = i;
        while (ascii < text.size() && text[ascii] < 0x80)
            ++ascii;
        if (ascii > i) {
            const std::size_t at = out.size();
            out.resize(at + (ascii - i));
            for (std::size_t k = i; k < ascii; ++k)
                out[at + (k - i)] = static_cast<char>(text[k]);
            i = ascii;
            if (i == text.size()) break;
        }
        const char16_t c = text[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
            out.push_back(static_cast<char>(c - kEscapeBase));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, c);
        }
    }
}

bool IsDigitCharBeyondLatin1(char16_t c) {
    if (c == 0xFFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    return u_charType(c) == U_DECIMAL_DIGIT_NUMBER;
}

bool IsSpaceChar(char16_t c) {
    if (c < 0x100) {
        return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0;
    }
    if (c == 0xFFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    return u_isUWhiteSpace(c);
}

void AsciiLowerInPlace(std::u16string& s) {
    for (char16_t& c : s)
        c = AsciiLower(c);
}

void AsciiUpperInPlace(std::u16string& s) {
    for (char16_t& c : s)
        c = AsciiUpper(c);
}

int CompareExact(std::u16string_view a, std::u16string_view b) {
    const int r = a.compare(b);
    return (r > 0) - (r < 0);
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = AsciiLower(a[i]);
        const char16_t y = AsciiLower(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return (a.size() > b.size()) - (a.size() < b.size());
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::size_t NoCaseHash::operator()(std::u16string_view s) const {
    // Setting bit 5 of every code unit maps "A" and "a" alike (and merges a
    // few other pairs, which equality sorts out), so four units can be taken
    // at a time instead of folding each letter.
    constexpr std::uint64_t kFold = 0x0020002000200020ull;
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = s.size() * kMul;
    std::size_t i = 0;
    for (; i + 4 <= s.size(); i += 4) {
        std::uint64_t chunk;
        std::memcpy(&chunk, s.data() + i, sizeof chunk);
        h = (h ^ (chunk | kFold)) * kMul;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    for (; i < s.size(); ++i)
        tail = (tail << 16) | (s[i] | 0x20u);
    h = (h ^ tail) * kMul;
    return static_cast<std::size_t>(h ^ (h >> 32));
}

std::u16string AsciiToU16(std::string_view ascii) {
    std::u16string out;
    AppendAscii(out, ascii);
    return out;
}

void AppendAscii(std::u16string& out, std::string_view ascii) {
    // Widened in place: appending the char range directly would build a
    // temporary string first.
    const std::size_t at = out.size();
    out.resize(at + ascii.size());
    for (std::size_t i = 0; i < ascii.size(); ++i)
        out[at + i] = static_cast<unsigned char>(ascii[i]);
}

}  // namespace morix
