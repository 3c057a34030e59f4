#include "engine/preview.h"

#include <numeric>

namespace morix {

std::vector<std::u16string> ComputeNewNames(const RenameList& list,
                                            std::span<const std::uint32_t> rows,
                                            const RenameOptions& options, NameRegistry& registry) {
    registry.Clear();
    registry.Reserve(rows.size());
    std::vector<std::u16string> names;
    names.reserve(rows.size());
    // Unsigned arithmetic gives the wrap-around of 32-bit signed numbers
    // without undefined behaviour.
    std::uint32_t number = static_cast<std::uint32_t>(options.startNumber);
    for (const std::uint32_t item : rows) {
        std::u16string name = ComputeNewName(options, list.ItemAt(item).path,
                                             static_cast<std::int32_t>(number), registry);
        registry.Register(name, item);
        names.push_back(std::move(name));
        number += static_cast<std::uint32_t>(options.increment);
    }
    return names;
}

std::vector<std::uint32_t> IdentityRows(std::size_t count) {
    std::vector<std::uint32_t> rows(count);
    std::iota(rows.begin(), rows.end(), 0u);
    return rows;
}

}  // namespace morix
