// The name template language: plain characters, runs of "#" for the sequence
// number, and tokens in angle brackets for facts about the file or the clock.
// Every input produces a name; there is no error state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morix {

class NameTemplate {
  public:
    // The new base name (without extension) of the file at path.
    static std::u16string Expand(std::u16string_view nameTemplate, std::u16string_view path,
                                 std::int32_t number);

    // The text of one token, given the body between "<" and ">".
    static std::u16string ExpandToken(std::u16string_view body, std::u16string_view path);

    // Appending forms of the two, for callers that build many names.
    static void ExpandInto(std::u16string& out, std::u16string_view nameTemplate,
                           std::u16string_view path, std::int32_t number);
    static void ExpandTokenInto(std::u16string& out, std::u16string_view body,
                                std::u16string_view path);
};

}  // namespace morix
