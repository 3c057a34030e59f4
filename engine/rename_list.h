// The files a user has collected. Items are only appended; the order the user
// sees is kept apart as a list of row indexes, so sorting never moves items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/canonical_path.h"
#include "engine/flat_hash_index.h"

namespace morix {

struct RenameItem {
    std::u16string path;  // full path in its canonical form; never changed afterwards
};

class RenameList {
  public:
    RenameList() = default;
    RenameList(const RenameList&) = delete;
    RenameList& operator=(const RenameList&) = delete;

    // Appends an item for the canonical form of path (PathCanonicalizer);
    // false (and nothing added) when the list holds that path already. A file
    // named through a linked folder, with "." or "..", or with repeated
    // separators is therefore one item; names that differ only in letter
    // case are two files on Linux.
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
    PathCanonicalizer canonical_;
};

}  // namespace morix
