// The new file name of one item under the current options, and the registry
// through which no two rows of one pass receive the same name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/rename_options.h"
#include "engine/text.h"

namespace morix {

// New names given out so far in one pass, compared without regard to ASCII
// case, each mapped to the index of the item that received it.
class NameRegistry {
  public:
    void Clear() { names_.clear(); }
    void Reserve(std::size_t count) { names_.reserve(count); }
    bool Contains(std::u16string_view name) const { return names_.find(name) != names_.end(); }
    // Adds name when absent; either way it now belongs to item.
    void Register(const std::u16string& name, std::size_t item);
    std::size_t Size() const { return names_.size(); }

  private:
    std::unordered_map<std::u16string, std::size_t, NoCaseHash, NoCaseEqual> names_;
};

// The new name (name and extension, no folder) of the file at path, for the
// given sequence number. Never fails.
std::u16string ComputeNewName(const RenameOptions& options, std::u16string_view path,
                              std::int32_t number, const NameRegistry& registry);

// Brings text to Unicode normalization form NFC; unchanged when it already is
// or when the conversion fails.
void NormalizeToNfc(std::u16string& text);

}  // namespace morix
