// The files a user has collected. Items are only appended; the order the user
// sees is kept apart as a list of row indexes, so sorting never moves items.
// Each folder's text is kept once, however many of its files the list holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/canonical_path.h"
#include "engine/flat_hash_index.h"
#include "engine/paths.h"

namespace morix {

// An item's full path in its canonical form, as its folder and its name;
// never changed afterwards. The characters are the list's, valid until it is
// cleared.
using RenameItem = PathParts;

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
    RenameItem ItemAt(std::size_t index) const;

    // Asks the processor to fetch an item, or its name, ahead of its use.
    void PrefetchItem(std::size_t index) const { __builtin_prefetch(&items_[index]); }
    void PrefetchName(std::size_t index) const { __builtin_prefetch(items_[index].name); }

    void Clear();

    // Adds every file directly inside folder (no sub-folders), in the order
    // the file system lists them. False when the folder cannot be read, and
    // then nothing is added and error (when given) is the errno; false too
    // when any of its files was in the list already (error is then 0).
    bool AddFolder(std::u16string_view folder, int* error = nullptr);

  private:
    // Sixteen bytes an item: at a million items every byte is a megabyte.
    struct Item {
        const char16_t* name;
        std::uint32_t nameLength;
        std::uint32_t folder;  // into folders_
    };

    // Adds the item of name in folder (an index into folders_) unless the
    // list holds it already.
    bool AddParts(std::uint32_t folder, std::u16string_view name);
    // A lasting copy of text in chunks_: names and folders share large blocks
    // instead of each taking an allocation of its own.
    std::u16string_view Keep(std::u16string_view text);
    // The index in folders_ of folder, which is added when new.
    std::uint32_t FolderId(std::u16string_view folder);

    std::vector<Item> items_;
    std::vector<std::u16string_view> folders_;
    std::uint32_t lastFolder_ = FlatHashIndex::kNone;  // the folder of the last item added
    std::vector<std::unique_ptr<char16_t[]>> chunks_;
    std::size_t chunkSize_ = 0;  // characters of the last chunk
    std::size_t chunkUsed_ = 0;  // of which taken
    FlatHashIndex index_;        // exact paths of items_
    FlatHashIndex folderIndex_;  // folders_
    PathCanonicalizer canonical_;
};

}  // namespace morix
