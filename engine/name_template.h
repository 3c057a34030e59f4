// The name template language: plain characters, runs of "#" for the sequence
// number, and tokens in angle brackets for facts about the file or the clock.
// Every input produces a name; there is no error state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/file_info.h"

namespace morix {

class NameTemplate {
  public:
    // The new base name (without extension) of the file at path.
    static std::u16string Expand(std::u16string_view nameTemplate, std::u16string_view path,
                                 std::int32_t number);

    // The text of one token, given the body between "<" and ">".
    static std::u16string ExpandToken(std::u16string_view body, std::u16string_view path);

    // Appending forms of the two, for callers that build many names. With
    // facts, the file's size and time come from there instead of the disk.
    static void ExpandInto(std::u16string& out, std::u16string_view nameTemplate,
                           std::u16string_view path, std::int32_t number,
                           const FileFacts* facts = nullptr);
    static void ExpandTokenInto(std::u16string& out, std::u16string_view body,
                                std::u16string_view path, const FileFacts* facts = nullptr);

    // True when expanding the template reads the file's size or time.
    static bool ReadsFileFacts(std::u16string_view nameTemplate);
};

}  // namespace morix
