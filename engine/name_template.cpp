#include "engine/name_template.h"

#include <unicode/uchar.h>

#include <charconv>
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

// One field of a time, at least width digits; only the year is cut down to
// its last digits: "YY" gives 03.
void AppendTimeField(std::u16string& out, const LocalTime& t, char16_t letter, std::size_t width) {
    const std::size_t before = out.size();
    AppendPadded(out, FieldValue(t, letter), width);
    if (letter == u'Y' && out.size() - before > width) {
        out.erase(before, out.size() - before - width);
    }
}

void AppendUnsigned(std::u16string& out, std::uint64_t value) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    AppendAscii(out, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

}  // namespace

NameTemplate::NameTemplate(std::u16string_view text) {
    std::u16string body;
    std::size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (IsForbiddenOutside(c)) {
            AddText(u"_");
            ++i;
        } else if (c == u'#') {
            const std::size_t width = RunLength(text, i);
            ops_.push_back(Op{Step::kNumber, 0, width, 0});
            i += width;
        } else if (c == u'<') {
            body.clear();
            std::size_t firstHash = std::u16string::npos;
            std::size_t j = i + 1;
            for (; j < text.size() && text[j] != u'>'; ++j) {
                const char16_t b = text[j];
                if (b == u'#' && firstHash == std::u16string::npos) firstHash = body.size();
                body.push_back(IsForbiddenInToken(b) ? u'_' : b);
            }
            if (j < text.size()) {
                AddToken(body);
                i = j + 1;
            } else if (firstHash == std::u16string::npos) {
                // An unclosed token is kept as text, its "<" made harmless.
                AddText(u"_");
                AddText(body);
                return;
            } else {
                // ...but a number run inside it still counts.
                AddText(u"_");
                AddText(std::u16string_view(body).substr(0, firstHash));
                i = i + 1 + firstHash;
            }
        } else {
            AddText(std::u16string_view(&text[i], 1));
            ++i;
        }
    }
}

void NameTemplate::AddText(std::u16string_view text) {
    if (text.empty()) return;
    // Text steps next to each other become one.
    if (ops_.empty() || ops_.back().step != Step::kText) {
        ops_.push_back(Op{Step::kText, 0, text_.size(), 0});
    }
    text_.append(text);
    ops_.back().b += text.size();
}

void NameTemplate::AddToken(std::u16string_view body) {
    ops_.push_back(Op{Step::kTokenStart});
    bool clock = false;  // a "T" turns the later time fields to the clock
    std::size_t i = 0;
    while (i < body.size()) {
        const char16_t c = body[i];
        switch (c) {
            case u'T':
                clock = true;
                ++i;
                break;
            case u'Y':
            case u'M':
            case u'D':
            case u'H':
            case u'm':
            case u's': {
                const std::size_t width = RunLength(body, i);
                ops_.push_back(Op{clock ? Step::kClockTime : Step::kFileTime, c, width, 0});
                (clock ? readsClock_ : readsFileFacts_) = true;
                readsFileTime_ = readsFileTime_ || !clock;
                i += width;
                break;
            }
            case u'E':
                ops_.push_back(Op{Step::kExtension});
                ++i;
                break;
            case u'P':
                ops_.push_back(Op{Step::kParentName});
                readsParent_ = true;
                ++i;
                break;
            case u'z': {
                const bool kib = i + 2 < body.size() && body[i + 1] == u'K' && body[i + 2] == u'B';
                ops_.push_back(Op{kib ? Step::kSizeKib : Step::kSize});
                readsFileFacts_ = true;
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
                ops_.push_back(Op{Step::kNamePart, 0, from,
                                  length.value_or(std::u16string_view::npos)});
                if (i < body.size() && (body[i] == u'S' || body[i] == u'D')) {
                    ops_.push_back(Op{body[i] == u'D' ? Step::kKeepDigits : Step::kDropDigits});
                    ++i;
                }
                break;
            }
            default:
                AddText(body.substr(i, 1));
                ++i;
                break;
        }
    }
}

void NameTemplate::ExpandInto(std::u16string& out, const PathParts& file, std::int32_t number,
                              const FileFacts* facts, const std::optional<LocalTime>* now,
                              const LocalTime* givenFileTime) const {
    const std::u16string_view fileName = file.name;
    const std::u16string_view extension = Extension(fileName);
    const std::u16string_view stem =
        extension.empty() ? fileName : fileName.substr(0, fileName.size() - extension.size() - 1);
    const std::u16string_view parent =
        readsParent_ ? FileName(file.Parent()) : std::u16string_view{};
    // Each file is asked once however many fields read it.
    std::optional<LocalTime> fileTime;
    bool fileTimeRead = false;
    std::optional<LocalTime> clock;
    bool clockRead = false;
    std::optional<std::uint64_t> size;
    std::size_t tokenStart = out.size();

    for (const Op& op : ops_) {
        switch (op.step) {
            case Step::kText:
                out.append(text_, op.a, op.b);
                break;
            case Step::kNumber:
                AppendPadded(out, number, op.a);
                break;
            case Step::kTokenStart:
                tokenStart = out.size();
                break;
            case Step::kFileTime:
                if (!fileTimeRead) {
                    fileTimeRead = true;
                    if (givenFileTime != nullptr) {
                        fileTime = *givenFileTime;
                    } else if (facts == nullptr) {
                        fileTime = LocalModifiedTime(file.Whole());
                    } else if (facts->modified) {
                        fileTime = ToLocalTime(*facts->modified);
                    }
                }
                if (fileTime) AppendTimeField(out, *fileTime, op.field, op.a);
                break;
            case Step::kClockTime:
                if (!clockRead) {
                    clockRead = true;
                    clock = now != nullptr ? *now : CurrentLocalTime();
                }
                if (clock) AppendTimeField(out, *clock, op.field, op.a);
                break;
            case Step::kExtension:
                out.append(extension);
                break;
            case Step::kParentName:
                out.append(parent);
                break;
            case Step::kSize:
            case Step::kSizeKib:
                if (!size) size = facts != nullptr ? facts->size : FileSize(file.Whole());
                AppendUnsigned(out, op.step == Step::kSizeKib ? *size / 1024 : *size);
                break;
            case Step::kNamePart:
                if (op.a < stem.size()) out.append(stem.substr(op.a, op.b));
                break;
            case Step::kKeepDigits:
            case Step::kDropDigits: {
                const bool keepDigits = op.step == Step::kKeepDigits;
                std::size_t w = tokenStart;
                for (std::size_t r = tokenStart; r < out.size(); ++r) {
                    if (IsDigitChar(out[r]) == keepDigits) out[w++] = out[r];
                }
                out.resize(w);
                break;
            }
        }
    }
}

std::u16string NameTemplate::ExpandToken(std::u16string_view body, std::u16string_view path) {
    NameTemplate token;
    token.AddToken(body);
    std::u16string out;
    token.ExpandInto(out, SplitPath(path), 0);
    return out;
}

std::u16string NameTemplate::Expand(std::u16string_view nameTemplate, std::u16string_view path,
                                    std::int32_t number) {
    std::u16string out;
    NameTemplate(nameTemplate).ExpandInto(out, SplitPath(path), number);
    return out;
}

}  // namespace morix
