// The name template language: plain characters, runs of "#" for the sequence
// number, and tokens in angle brackets for facts about the file or the clock.
// Every input produces a name; there is no error state.
//
// A template is read once into a list of steps; expanding it for each of many
// files then only runs the steps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_info.h"
#include "engine/paths.h"

namespace morix {

class NameTemplate {
  public:
    explicit NameTemplate(std::u16string_view text);

    // Appends the new base name (without extension) of file. With
    // facts, the file's size and time come from there instead of the disk;
    // with now, the current-time fields use it instead of reading the clock;
    // with fileTime, the file date fields use it instead of the modified time.
    void ExpandInto(std::u16string& out, const PathParts& file, std::int32_t number,
                    const FileFacts* facts = nullptr, const std::optional<LocalTime>* now = nullptr,
                    const LocalTime* fileTime = nullptr) const;

    // True when expanding reads the file's size or modified time.
    bool ReadsFileFacts() const { return readsFileFacts_; }
    // True when expanding reads the file's date (its modified time unless
    // given another).
    bool ReadsFileTime() const { return readsFileTime_; }
    // True when expanding reads the clock.
    bool ReadsClock() const { return readsClock_; }

    // One-off forms: the new base name of the file at path, and the text of
    // one token given the body between "<" and ">".
    static std::u16string Expand(std::u16string_view nameTemplate, std::u16string_view path,
                                 std::int32_t number);
    static std::u16string ExpandToken(std::u16string_view body, std::u16string_view path);

  private:
    enum class Step : std::uint8_t {
        kText,        // text_[a, a + b)
        kNumber,      // the sequence number, at least a digits
        kTokenStart,  // a token's output begins here
        kFileTime,    // field of the file's modified time, at least a digits
        kClockTime,   // field of the current time, at least a digits
        kExtension,
        kParentName,
        kSize,
        kSizeKib,
        kNamePart,    // name without extension from index a, at most b characters
        kKeepDigits,  // drops all but the digits the token has output so far
        kDropDigits,  // drops the digits the token has output so far
    };
    struct Op {
        Step step;
        char16_t field = 0;  // Y, M, D, H, m or s for the time steps
        std::size_t a = 0;
        std::size_t b = 0;
    };

    NameTemplate() = default;
    void AddText(std::u16string_view text);
    void AddToken(std::u16string_view body);

    std::vector<Op> ops_;
    std::u16string text_;
    bool readsFileFacts_ = false;
    bool readsFileTime_ = false;
    bool readsClock_ = false;
    bool readsParent_ = false;
};

}  // namespace morix
