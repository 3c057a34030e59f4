#include "engine/regex_replace.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <optional>

namespace morix {
namespace {

constexpr char16_t kReplacementChar = 0xFFFD;
// The JIT's own stack: the library's 32 KiB first, grown up to this when a
// pattern needs more.
constexpr std::size_t kJitStackMax = 1u << 20;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Whether text holds a surrogate that is not half of a pair.
bool HasLoneSurrogate(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            return true;
        }
    }
    return false;
}

// The same text with every lone surrogate replaced by U+FFFD: one unit for
// one, so every offset stays valid for the original.
void ReplaceLoneSurrogates(std::u16string_view text, std::u16string& out) {
    out.assign(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (IsHighSurrogate(out[i]) && i + 1 < out.size() && IsLowSurrogate(out[i + 1])) {
            ++i;
        } else if (IsHighSurrogate(out[i]) || IsLowSurrogate(out[i])) {
            out[i] = kReplacementChar;
        }
    }
}

// A piece of the replacement: literal text, or the text of group `group`.
struct ReplacementPiece {
    std::u16string text;
    int group = -1;
};

std::string LibraryMessage(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, std::size(buffer));
    std::string message;
    for (int i = 0; i < length; ++i)
        message.push_back(buffer[i] < 0x80 ? static_cast<char>(buffer[i]) : '?');
    return message;
}

}  // namespace

struct RegexReplacer::Compiled {
    struct CodeFree {
        void operator()(pcre2_code* code) const { pcre2_code_free(code); }
    };
    std::unique_ptr<pcre2_code, CodeFree> code;
    std::vector<ReplacementPiece> replacement;
    bool jit = false;
};

struct RegexReplacer::MatchState {
    struct DataFree {
        void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
    };
    struct ContextFree {
        void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
    };
    struct StackFree {
        void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
    };
    std::unique_ptr<pcre2_match_data, DataFree> data;
    std::unique_ptr<pcre2_match_context, ContextFree> context;
    std::unique_ptr<pcre2_jit_stack, StackFree> stack;

    explicit MatchState(const Compiled& compiled)
        : data(pcre2_match_data_create_from_pattern(compiled.code.get(), nullptr)),
          context(pcre2_match_context_create(nullptr)) {
        if (!data || !context) throw std::bad_alloc();
        pcre2_set_match_limit(context.get(), kMatchLimit);
        if (compiled.jit) {
            stack.reset(pcre2_jit_stack_create(32 * 1024, kJitStackMax, nullptr));
            if (stack) pcre2_jit_stack_assign(context.get(), nullptr, stack.get());
        }
    }
};

namespace {

// Parses the replacement into literal pieces and group references, checking
// each reference against the groups of code.
std::optional<RegexError> ParseReplacement(std::u16string_view text, const pcre2_code* code,
                                           std::vector<ReplacementPiece>& pieces) {
    std::uint32_t groups = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups);
    const auto literal = [&](std::u16string_view part) {
        if (pieces.empty() || pieces.back().group >= 0) pieces.emplace_back();
        pieces.back().text.append(part);
    };
    const auto fail = [](std::size_t at, std::string message) {
        return RegexError{RegexError::Field::kReplace, std::move(message), at};
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t dollar = text.find(u'$', i);
        if (dollar == std::u16string_view::npos || dollar + 1 == text.size()) {
            literal(text.substr(i));
            break;
        }
        literal(text.substr(i, dollar - i));
        const char16_t next = text[dollar + 1];
        i = dollar + 2;
        int group = -1;
        if (next == u'$') {
            literal(u"$");
            continue;
        }
        if (next >= u'0' && next <= u'9') {
            group = next - u'0';
        } else if (next == u'{') {
            const std::size_t close = text.find(u'}', i);
            if (close == std::u16string_view::npos)
                return fail(dollar, "a group reference ${ has no closing }");
            const std::u16string name(text.substr(i, close - i));
            i = close + 1;
            bool digits = !name.empty();
            for (const char16_t c : name)
                digits = digits && c >= u'0' && c <= u'9';
            if (digits && name.size() <= 5) {
                group = 0;
                for (const char16_t c : name)
                    group = group * 10 + (c - u'0');
            } else {
                group = pcre2_substring_number_from_name(
                    code, reinterpret_cast<PCRE2_SPTR>(name.c_str()));
                if (group < 0) {
                    return fail(dollar, group == PCRE2_ERROR_NOUNIQUESUBSTRING
                                            ? "the group name is given to more than one group"
                                            : "the expression has no group of that name");
                }
            }
        } else {
            literal(text.substr(dollar, 1));
            i = dollar + 1;
            continue;
        }
        if (static_cast<std::uint32_t>(group) > groups)
            return fail(dollar, "the expression has no group of that number");
        pieces.push_back({{}, group});
    }
    return std::nullopt;
}

}  // namespace

std::variant<RegexReplacer, RegexError> RegexReplacer::Compile(std::u16string_view find,
                                                               std::u16string_view replace,
                                                               bool caseSensitive) {
    std::uint32_t options = PCRE2_UTF | PCRE2_UCP;
    if (!caseSensitive) options |= PCRE2_CASELESS;
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    auto compiled = std::make_shared<Compiled>();
    compiled->code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(find.data()), find.size(),
                                       options, &errorCode, &errorOffset, nullptr));
    if (!compiled->code) {
        return RegexError{RegexError::Field::kFind, LibraryMessage(errorCode), errorOffset};
    }
    // Without the JIT (a processor it does not know) the interpreter matches,
    // slower, under the same limit.
    compiled->jit = pcre2_jit_compile(compiled->code.get(), PCRE2_JIT_COMPLETE) == 0;
    if (std::optional<RegexError> error =
            ParseReplacement(replace, compiled->code.get(), compiled->replacement)) {
        return *error;
    }
    return RegexReplacer(std::move(compiled));
}

RegexReplacer::RegexReplacer(std::shared_ptr<const Compiled> compiled)
    : compiled_(std::move(compiled)), state_(std::make_unique<MatchState>(*compiled_)) {}

RegexReplacer::RegexReplacer(const RegexReplacer& other) : RegexReplacer(other.compiled_) {}
RegexReplacer::RegexReplacer(RegexReplacer&&) noexcept = default;
RegexReplacer& RegexReplacer::operator=(RegexReplacer&&) noexcept = default;
RegexReplacer::~RegexReplacer() = default;

bool RegexReplacer::ReplaceAll(std::u16string& name) {
    // Valid UTF-16 lets the library skip its own check of the subject.
    std::u16string_view subject = name;
    if (HasLoneSurrogate(name)) {
        ReplaceLoneSurrogates(name, subject_);
        subject = subject_;
    }
    const auto* units = reinterpret_cast<PCRE2_SPTR>(subject.data());
    pcre2_match_data* data = state_->data.get();
    // Timed from the first match on: the search before it is bounded by the
    // match limit, and most names have no second.
    std::optional<std::chrono::steady_clock::time_point> deadline;

    result_.clear();
    std::size_t copied = 0;  // name up to here is in result_ or replaced
    std::size_t start = 0;
    std::uint32_t options = PCRE2_NO_UTF_CHECK;
    bool matched = false;
    for (;;) {
        const int rc = pcre2_match(compiled_->code.get(), units, subject.size(), start, options,
                                   data, state_->context.get());
        if (rc == PCRE2_ERROR_NOMATCH) {
            // After an empty match, no non-empty one starts there either:
            // move on by one character.
            if ((options & PCRE2_NOTEMPTY_ATSTART) == 0 || start >= subject.size()) break;
            start += IsHighSurrogate(subject[start]) && start + 1 < subject.size() ? 2 : 1;
            options = PCRE2_NO_UTF_CHECK;
            continue;
        }
        if (rc < 0) return false;  // a limit, or the library ran out of memory
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
        // \K can put the start of a match behind its end; such a match
        // replaces nothing.
        if (ov[0] < copied || ov[1] < ov[0]) break;
        matched = true;
        result_.append(name, copied, ov[0] - copied);
        const auto pairs = static_cast<std::uint32_t>(rc);
        for (const ReplacementPiece& piece : compiled_->replacement) {
            if (piece.group < 0) {
                result_.append(piece.text);
            } else if (static_cast<std::uint32_t>(piece.group) < pairs &&
                       ov[2 * piece.group] != PCRE2_UNSET) {
                const PCRE2_SIZE begin = ov[2 * piece.group];
                result_.append(name, begin, ov[2 * piece.group + 1] - begin);
            }
        }
        copied = ov[1];
        start = ov[1];
        options = PCRE2_NO_UTF_CHECK;
        if (ov[0] == ov[1]) options |= PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED;
        const auto now = std::chrono::steady_clock::now();
        if (!deadline) {
            deadline = now + kTimeLimit;
        } else if (now > *deadline) {
            return false;
        }
    }
    if (!matched) return true;
    result_.append(name, copied);
    name.swap(result_);
    return true;
}

}  // namespace morix
