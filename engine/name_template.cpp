#include "engine/name_template.h"

#include <unicode/uchar.h>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/file_info.h"
#include "engine/paths.h"
#include "engine/text.h"

namespace morix {
namespace {

// Outside a token "<" opens one, inside a token ">" closes it: each place
// turns the other forbidden characters into "_".
bool IsForbiddenOutside(char16_t c) {
    return c != u'<' && IsForbiddenNameChar(c);
}

bool IsForbiddenInToken(char16_t c) {
    return c != u'>' && IsForbiddenNameChar(c);
}

// "%0*d": at least width characters, padded with zeros, never shortened.
void AppendPadded(std::u16string& out, long long value, std::size_t width) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    std::string_view text(digits, static_cast<std::size_t>(end - digits));
    if (!text.empty() && text.front() == '-') {
        out.push_back(u'-');
        text.remove_prefix(1);
        width = width > 0 ? width - 1 : 0;  // the sign counts toward the width
    }
    if (text.size() < width) out.append(width - text.size(), u'0');
    AppendAscii(out, text);
}

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    switch (c) {
        case 0xB2:
            return 2;
        case 0xB3:
            return 3;
        case 0xB9:
            return 1;
        default: {
            const int v = u_charDigitValue(c);
            return v < 0 ? 0 : v;
        }
    }
}

// Reads the digits at body[i...] as a decimal value; large values saturate,
// since any index past the end of a name gives the same empty text.
std::optional<std::size_t> ReadNumber(std::u16string_view body, std::size_t& i) {
    constexpr std::size_t kCap = std::size_t{1} << 40;
    std::optional<std::size_t> value;
    while (i < body.size() && IsDigitChar(body[i])) {
        const std::size_t v = value.value_or(0);
        value = v >= kCap ? kCap : v * 10 + static_cast<std::size_t>(DigitValue(body[i]));
        ++i;
    }
    return value;
}

std::size_t RunLength(std::u16string_view s, std::size_t i) {
    std::size_t j = i;
    while (j < s.size() && s[j] == s[i])
        ++j;
    return j - i;
}

int FieldValue(const LocalTime& t, char16_t letter) {
    switch (letter) {
        case u'Y':
            return t.year;
        case u'M':
            return t.month;
        case u'D':
            return t.day;
        case u'H':
            return t.hour;
        case u'm':
            return t.minute;
        default:
            return t.second;
    }
}

}  // namespace

void NameTemplate::ExpandTokenInto(std::u16string& out, std::u16string_view body,
                                   std::u16string_view path, const FileFacts* facts) {
    const std::size_t start = out.size();  // this token's output begins here
    bool currentTimeMode = false;
    bool fileTimeRead = false;
    bool nowRead = false;
    std::optional<LocalTime> fileTime;
    std::optional<LocalTime> now;

    std::size_t i = 0;
    while (i < body.size()) {
        const char16_t c = body[i];
        switch (c) {
            case u'T':
                currentTimeMode = true;
                ++i;
                break;
            case u'Y':
            case u'M':
            case u'D':
            case u'H':
            case u'm':
            case u's': {
                const std::size_t width = RunLength(body, i);
                i += width;
                const std::optional<LocalTime>* source = &fileTime;
                if (currentTimeMode) {
                    if (!nowRead) now = CurrentLocalTime();
                    nowRead = true;
                    source = &now;
                } else {
                    if (!fileTimeRead) {
                        if (facts == nullptr) {
                            fileTime = LocalModifiedTime(path);
                        } else if (facts->modified) {
                            fileTime = ToLocalTime(*facts->modified);
                        }
                    }
                    fileTimeRead = true;
                }
                if (!source->has_value()) break;
                const std::size_t before = out.size();
                AppendPadded(out, FieldValue(**source, c), width);
                // Only the year is cut down to its last digits: "YY" gives 03.
                if (c == u'Y' && out.size() - before > width) {
                    out.erase(before, out.size() - before - width);
                }
                break;
            }
            case u'E':
                out.append(Extension(path));
                ++i;
                break;
            case u'P':
                out.append(FileName(Folder(path)));
                ++i;
                break;
            case u'z': {
                const bool kib = i + 2 < body.size() && body[i + 1] == u'K' && body[i + 2] == u'B';
                const std::uint64_t size = facts ? facts->size : FileSize(path);
                char digits[24];
                std::snprintf(digits, sizeof digits, "%llu",
                              static_cast<unsigned long long>(kib ? size / 1024 : size));
                AppendAscii(out, digits);
                i += kib ? 3 : 1;
                break;
            }
            case u'N': {
                ++i;
                const std::size_t from = ReadNumber(body, i).value_or(0);
                std::optional<std::size_t> length;
                if (i < body.size() && body[i] == u',') {
                    ++i;
                    length = ReadNumber(body, i);
                }
                const std::u16string_view name = RemoveExtension(FileName(path));
                if (from < name.size()) {
                    out.append(name.substr(from, length.value_or(std::u16string_view::npos)));
                }
                if (i < body.size() && (body[i] == u'S' || body[i] == u'D')) {
                    const bool keepDigits = body[i] == u'D';
                    std::size_t w = start;
                    for (std::size_t r = start; r < out.size(); ++r) {
                        if (IsDigitChar(out[r]) == keepDigits) out[w++] = out[r];
                    }
                    out.resize(w);
                    ++i;
                }
                break;
            }
            default:
                out.push_back(c);
                ++i;
                break;
        }
    }
}

std::u16string NameTemplate::ExpandToken(std::u16string_view body, std::u16string_view path) {
    std::u16string out;
    ExpandTokenInto(out, body, path);
    return out;
}

void NameTemplate::ExpandInto(std::u16string& out, std::u16string_view nameTemplate,
                              std::u16string_view path, std::int32_t number,
                              const FileFacts* facts) {
    std::u16string body;
    std::size_t i = 0;
    while (i < nameTemplate.size()) {
        const char16_t c = nameTemplate[i];
        if (IsForbiddenOutside(c)) {
            out.push_back(u'_');
            ++i;
        } else if (c == u'#') {
            const std::size_t width = RunLength(nameTemplate, i);
            AppendPadded(out, number, width);
            i += width;
        } else if (c == u'<') {
            body.clear();
            std::size_t firstHash = std::u16string::npos;
            std::size_t j = i + 1;
            for (; j < nameTemplate.size() && nameTemplate[j] != u'>'; ++j) {
                const char16_t b = nameTemplate[j];
                if (b == u'#' && firstHash == std::u16string::npos) firstHash = body.size();
                body.push_back(IsForbiddenInToken(b) ? u'_' : b);
            }
            if (j < nameTemplate.size()) {
                ExpandTokenInto(out, body, path, facts);
                i = j + 1;
            } else if (firstHash == std::u16string::npos) {
                // An unclosed token is kept as text, its "<" made harmless.
                out.push_back(u'_');
                out.append(body);
                return;
            } else {
                // ...but a number run inside it still counts.
                out.push_back(u'_');
                out.append(body, 0, firstHash);
                i = i + 1 + firstHash;
            }
        } else {
            out.push_back(c);
            ++i;
        }
    }
}

bool NameTemplate::ReadsFileFacts(std::u16string_view nameTemplate) {
    // Only closed tokens read anything; in a body, "T" turns later time
    // fields to the clock, while "z" always reads the file.
    std::size_t open = nameTemplate.find(u'<');
    while (open != std::u16string_view::npos) {
        const std::size_t close = nameTemplate.find(u'>', open + 1);
        if (close == std::u16string_view::npos) return false;
        bool clock = false;
        for (std::size_t i = open + 1; i < close; ++i) {
            switch (nameTemplate[i]) {
                case u'T':
                    clock = true;
                    break;
                case u'z':
                    return true;
                case u'Y':
                case u'M':
                case u'D':
                case u'H':
                case u'm':
                case u's':
                    if (!clock) return true;
                    break;
                default:
                    break;
            }
        }
        open = nameTemplate.find(u'<', close + 1);
    }
    return false;
}

std::u16string NameTemplate::Expand(std::u16string_view nameTemplate, std::u16string_view path,
                                    std::int32_t number) {
    std::u16string out;
    ExpandInto(out, nameTemplate, path, number);
    return out;
}

}  // namespace morix
