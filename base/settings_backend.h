// Where the numbered settings are kept: a small store of named, typed values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace morix {

// A stored value is a text, a 32-bit number or a 64-bit number; the three kinds
// stay apart, so a value stored as one kind never reads as another. The index
// of the alternative is the kind the store's cache records (0, 1, 2).
using StoredValue = std::variant<std::u16string, std::uint32_t, std::uint64_t>;

class ISettingsBackend {
  public:
    enum class ReadStatus {
        kUnavailable,  // the stored values cannot be opened at all (none saved yet, unreadable)
        kMissing,      // opened, but no readable value of that name
        kFound,
    };

    virtual ~ISettingsBackend() = default;

    // Never creates anything.
    virtual ReadStatus Read(std::string_view name, StoredValue& value) = 0;
    // Each changes only the named value and returns whether the change is
    // stored. Removing a value that does not exist succeeds.
    virtual bool Write(std::string_view name, const StoredValue& value) = 0;
    virtual bool Remove(std::string_view name) = 0;
};

}  // namespace morix
