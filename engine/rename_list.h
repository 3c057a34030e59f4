// The files a user has collected. Items are only appended; the order the user
// sees is kept apart as a list of row indexes, so sorting never moves items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace morix {

struct RenameItem {
    std::u16string path;  // full path as added; never changed afterwards
};

class RenameList {
  public:
    RenameList();
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
    struct IndexHash {
        using is_transparent = void;
        const std::vector<RenameItem>* items;
        std::size_t operator()(std::uint32_t index) const;
        std::size_t operator()(std::u16string_view path) const;
    };
    struct IndexEqual {
        using is_transparent = void;
        const std::vector<RenameItem>* items;
        std::u16string_view PathOf(std::uint32_t index) const { return (*items)[index].path; }
        bool operator()(std::uint32_t a, std::uint32_t b) const { return a == b; }
        bool operator()(std::uint32_t a, std::u16string_view b) const { return PathOf(a) == b; }
        bool operator()(std::u16string_view a, std::uint32_t b) const { return a == PathOf(b); }
    };

    std::vector<RenameItem> items_;
    std::unordered_set<std::uint32_t, IndexHash, IndexEqual> index_;
};

}  // namespace morix
