// Find and replace with a regular expression: PCRE2's 16-bit library, so the
// engine's UTF-16 names are matched as they are, with its JIT compiler.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morix {

// Why a find text or its replacement cannot be used as a regular
// expression replacement.
struct RegexError {
    enum class Field { kFind, kReplace };
    Field field = Field::kFind;
    std::string message;     // the library's message for the find text, ours for the replacement
    std::size_t offset = 0;  // where in that field's text, in UTF-16 units
};

// One compiled find text and replacement. The replacement may name groups as
// $0 to $9 (one digit: "$12" is group 1, then "2") or ${name} (also ${12}),
// and writes "$$" for a dollar sign; any other "$" stands for itself. A group
// that took no part in a match inserts nothing.
//
// A copy shares the compiled expression and has its own matching state, so
// each thread works with a copy of its own.
class RegexReplacer {
  public:
    // Work per name is bounded twice: each search of the library is stopped
    // after this many steps of its backtracking, and a name whose searches
    // (one per match) go on longer than kTimeLimit after its first match is
    // given up between two.
    static constexpr std::uint32_t kMatchLimit = 1000000;
    static constexpr std::chrono::milliseconds kTimeLimit{100};

    // Letter case is ignored, with Unicode's case folding, unless
    // caseSensitive is set.
    static std::variant<RegexReplacer, RegexError> Compile(std::u16string_view find,
                                                           std::u16string_view replace,
                                                           bool caseSensitive);

    RegexReplacer(const RegexReplacer& other);
    RegexReplacer& operator=(const RegexReplacer&) = delete;
    RegexReplacer(RegexReplacer&&) noexcept;
    RegexReplacer& operator=(RegexReplacer&&) noexcept;
    ~RegexReplacer();

    // Replaces every match in name, left to right, as Perl's s///g does (an
    // empty match is tried once at each place). Returns false, leaving name as it was,
    // when a limit stopped the search. A unit of name that is no valid UTF-16
    // (an undecodable byte of the file name) matches as U+FFFD and is copied
    // back as it was wherever unmatched text or a group carries it.
    bool ReplaceAll(std::u16string& name);

  private:
    struct Compiled;
    struct MatchState;
    explicit RegexReplacer(std::shared_ptr<const Compiled> compiled);

    std::shared_ptr<const Compiled> compiled_;
    std::unique_ptr<MatchState> state_;
    std::u16string subject_;  // name with invalid units replaced, when it has any
    std::u16string result_;
};

}  // namespace morix
