#include "engine/preview.h"

#include <algorithm>
#include <numeric>

#include "engine/name_template.h"
#include "engine/parallel.h"

namespace morix {

std::vector<FileFacts> ReadAllFileFacts(const RenameList& list,
                                        std::span<const std::uint32_t> rows) {
    std::vector<FileFacts> facts(rows.size());
    ParallelFor(rows.size(), [&](std::size_t begin, std::size_t end) {
        FileFactsReader reader;
        for (std::size_t r = begin; r < end; ++r)
            facts[r] = reader.Read(list.ItemAt(rows[r]).path);
    });
    return facts;
}

NameList ComputeNewNames(const RenameList& list, std::span<const std::uint32_t> rows,
                         const RenameOptions& options, NameRegistry& registry) {
    // Read every file the template asks about once, up front: the queries
    // dominate such a pass and run in parallel, while the naming below must
    // stay in row order.
    std::vector<FileFacts> facts;
    if (NameTemplate::ReadsFileFacts(options.nameTemplate)) facts = ReadAllFileFacts(list, rows);

    registry.Clear();
    registry.Reserve(rows.size());
    NameList names;
    names.reserve(rows.size(), rows.size() * 24);
    NewNameComposer composer;
    // Unsigned arithmetic gives the wrap-around of 32-bit signed numbers
    // without undefined behaviour.
    std::uint32_t number = static_cast<std::uint32_t>(options.startNumber);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        PrefetchAhead(list, rows, r);
        const std::u16string_view name =
            composer.Compose(options, list.ItemAt(rows[r]).path, static_cast<std::int32_t>(number),
                             registry, facts.empty() ? nullptr : &facts[r]);
        registry.Register(name, rows[r]);
        names.push_back(name);
        number += static_cast<std::uint32_t>(options.increment);
    }
    return names;
}

void PrefetchAhead(const RenameList& list, std::span<const std::uint32_t> rows, std::size_t row) {
    constexpr std::size_t kItemDistance = 16;
    constexpr std::size_t kPathDistance = 8;
    if (row + kItemDistance < rows.size()) {
        __builtin_prefetch(&list.ItemAt(rows[row + kItemDistance]));
    }
    if (row + kPathDistance < rows.size()) {
        __builtin_prefetch(list.ItemAt(rows[row + kPathDistance]).path.data());
    }
}

std::vector<std::uint32_t> IdentityRows(std::size_t count) {
    std::vector<std::uint32_t> rows(count);
    std::iota(rows.begin(), rows.end(), 0u);
    return rows;
}

}  // namespace morix
