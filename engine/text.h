// Text primitives of the engine: file-name bytes <-> UTF-16, the character
// classes and the ASCII-only case rules that every comparison of names uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morix {

// Decodes a file name or path as stored by the file system. Valid UTF-8 becomes
// UTF-16; every byte that is not part of a valid UTF-8 sequence becomes the lone
// low surrogate U+DC00 + byte (U+DC80..U+DCFF), so EncodeFileName gives the
// original bytes back for every name the file system can hold.
std::u16string DecodeFileName(std::string_view bytes);
// The same, appended to out (for buffers that callers reuse).
void AppendDecodedFileName(std::u16string& out, std::string_view bytes);

// The inverse of DecodeFileName. A lone surrogate outside U+DC80..U+DCFF (which
// no decoded name contains) is written as U+FFFD.
std::string EncodeFileName(std::u16string_view text);
// The same, appended to out (for buffers that callers reuse).
void AppendFileNameBytes(std::string& out, std::u16string_view text);

// Decimal digits: ASCII 0-9, the superscripts U+00B2, U+00B3, U+00B9 and every
// Unicode decimal digit from U+0100 on (full-width digits, other scripts).
bool IsDigitCharBeyondLatin1(char16_t c);
inline bool IsDigitChar(char16_t c) {
    if (c < 0x100) return (c >= u'0' && c <= u'9') || c == 0xB2 || c == 0xB3 || c == 0xB9;
    return IsDigitCharBeyondLatin1(c);
}

// White space: U+0009-U+000D, U+0020, U+0085, U+00A0 and every Unicode white
// space character from U+0100 on.
bool IsSpaceChar(char16_t c);

// The characters a new name may not contain: " * / : < > ? \ |
constexpr bool IsForbiddenNameChar(char16_t c) {
    // One bit per ASCII character, so that loops over names need no branches.
    constexpr std::uint64_t kBelow64 = (1ULL << u'"') | (1ULL << u'*') | (1ULL << u'/') |
                                       (1ULL << u':') | (1ULL << u'<') | (1ULL << u'>') |
                                       (1ULL << u'?');
    constexpr std::uint64_t kFrom64 = (1ULL << (u'\\' - 64)) | (1ULL << (u'|' - 64));
    const std::uint64_t bits = c < 64 ? kBelow64 : c < 128 ? kFrom64 : 0;
    return (bits >> (c & 63)) & 1;
}

// Turns every forbidden character of name into "_".
inline void ReplaceForbiddenChars(std::u16string& name) {
    for (char16_t& c : name)
        c = IsForbiddenNameChar(c) ? u'_' : c;
}

// Case changes touch the 26 ASCII letters only.
constexpr char16_t AsciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c + 32 : c;
}
constexpr char16_t AsciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - 32 : c;
}
void AsciiLowerInPlace(std::u16string& s);
void AsciiUpperInPlace(std::u16string& s);

// Code-unit comparisons; the NoCase variants fold A-Z to a-z first.
int CompareExact(std::u16string_view a, std::u16string_view b);
int CompareNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// Hash and equality for containers keyed without regard to ASCII case.
struct NoCaseHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view s) const;
};
struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const {
        return EqualsNoCase(a, b);
    }
};

// ASCII text as UTF-16, for literals and numbers produced by snprintf.
std::u16string AsciiToU16(std::string_view ascii);
void AppendAscii(std::u16string& out, std::string_view ascii);

}  // namespace morix
