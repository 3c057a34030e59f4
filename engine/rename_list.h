// The files a user has collected. Items are only appended; the order the user
// sees is kept apart as a list of row indexes, so sorting never moves items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/canonical_path.h"
#include "engine/flat_hash_index.h"

namespace morix {

struct RenameItem {
    // Full path in its canonical form; never changed afterwards. The
    // characters are the list's, valid until it is cleared.
    std::u16string_view path;
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
    // A lasting copy of path in chunks_: paths share large blocks instead of
    // each taking an allocation of its own.
    std::u16string_view Keep(std::u16string_view path);

    std::vector<RenameItem> items_;
    std::vector<std::unique_ptr<char16_t[]>> chunks_;
    std::size_t chunkSize_ = 0;  // characters of the last chunk
    std::size_t chunkUsed_ = 0;  // of which taken
    FlatHashIndex index_;  // exact paths of items_
    PathCanonicalizer canonical_;
};

}  // namespace morix
