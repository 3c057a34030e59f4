// The new file name of one item under the current options, and the registry
// through which no two rows of one pass receive the same name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_info.h"
#include "engine/flat_hash_index.h"
#include "engine/rename_options.h"

namespace morix {

// New names given out so far in one pass, compared without regard to ASCII
// case, each mapped to the index of the item that received it. Names live in
// one shared buffer and an open-addressing table, so a pass over a million
// rows allocates a handful of times rather than once per row.
class NameRegistry {
  public:
    void Clear();
    void Reserve(std::size_t count);
    bool Contains(std::u16string_view name) const;
    // Adds name when absent; either way it now belongs to item.
    void Register(std::u16string_view name, std::size_t item);
    // The item that received name, or SIZE_MAX when none did.
    std::size_t ItemOf(std::u16string_view name) const;
    std::size_t Size() const { return entries_.size(); }

  private:
    struct Entry {
        std::size_t begin;  // in pool_
        std::size_t length;
        std::size_t item;
    };
    std::u16string_view NameOf(std::uint32_t id) const {
        return std::u16string_view(pool_).substr(entries_[id].begin, entries_[id].length);
    }

    std::u16string pool_;
    std::vector<Entry> entries_;
    FlatHashIndex index_;
};

// The new names of one pass, parallel to its rows, in one buffer.
class NameList {
  public:
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::u16string_view operator[](std::size_t row) const {
        const std::size_t begin = row == 0 ? 0 : ends_[row - 1];
        return std::u16string_view(text_).substr(begin, ends_[row] - begin);
    }
    void push_back(std::u16string_view name) {
        text_.append(name);
        ends_.push_back(text_.size());
    }
    void reserve(std::size_t rows, std::size_t chars) {
        ends_.reserve(rows);
        text_.reserve(chars);
    }

  private:
    std::u16string text_;
    std::vector<std::size_t> ends_;
};

// Builds new names one after another, reusing its buffers between calls.
class NewNameComposer {
  public:
    // The new name (name and extension, no folder) of the file at path for
    // the given sequence number; valid until the next call. With facts, the
    // template's size and time fields use them instead of asking the disk.
    std::u16string_view Compose(const RenameOptions& options, std::u16string_view path,
                                std::int32_t number, const NameRegistry& registry,
                                const FileFacts* facts = nullptr);

  private:
    std::u16string base_;
    std::u16string name_;
    std::u16string scratch_;
    std::u16string folded_;
};

// The new name of one file. Never fails.
std::u16string ComputeNewName(const RenameOptions& options, std::u16string_view path,
                              std::int32_t number, const NameRegistry& registry);

// Brings text to Unicode normalization form NFC; unchanged when it already is
// or when the conversion fails.
void NormalizeToNfc(std::u16string& text);

}  // namespace morix
