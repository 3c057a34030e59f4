// The files a user has collected. Items are only appended; the order the user
// sees is kept apart as a list of row indexes, so sorting never moves items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/flat_hash_index.h"

namespace morix {

struct RenameItem {
    std::u16string path;  // full path as added; never changed afterwards
};

class RenameList {
  public:
    RenameList() = default;
    RenameList(const RenameList&) = delete;
    RenameList& operator=(const RenameList&) = delete;

    // Appends an item for path; false (and nothing added) when the list holds
    // that exact path already. On Linux two spellings are two files.
    bool AddItem(std::u16string path);

    std::size_t Count() const { return items_.size(); }

    // Aborts for an index at or past Count().
    const RenameItem& ItemAt(std::size_t index) const;

    void Clear();

    // Adds every file directly inside folder (no sub-folders). False when the
    // folder cannot be read or any of its files was in the list already.
    bool AddFolder(std::u16string_view folder);

  private:
    std::vector<RenameItem> items_;
    FlatHashIndex index_;  // exact paths of items_
};

}  // namespace morix
