// The new file name of one item under the current options, and the registry
// through which no two rows of one pass receive the same name.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/file_info.h"
#include "engine/flat_hash_index.h"
#include "engine/name_template.h"
#include "engine/regex_replace.h"
#include "engine/rename_options.h"
#include "engine/text.h"

namespace morix {

// New names given out so far in one pass, compared without regard to ASCII
// case, each mapped to the index of the item that received it. Names live in
// one shared buffer and an open-addressing table, so a pass over a million
// rows allocates a handful of times rather than once per row.
class NameRegistry {
  public:
    void Clear();
    // Clears and gives the memory back.
    void Release();
    bool Contains(std::u16string_view name) const;
    // Adds name when absent; either way it now belongs to item.
    void Register(std::u16string_view name, std::size_t item);
    // Adds name for item when absent and returns true; false, changing
    // nothing, when it is already there. hash is HashOf(name), which callers
    // may compute ahead, on other threads.
    bool RegisterNew(std::u16string_view name, std::size_t hash, std::size_t item);
    static std::size_t HashOf(std::u16string_view name) { return NoCaseHash{}(name); }
    // Room for count names of chars characters in all.
    void Reserve(std::size_t count, std::size_t chars);
    // The item that received name, or SIZE_MAX when none did.
    std::size_t ItemOf(std::u16string_view name) const;
    std::size_t Size() const { return entries_.size(); }

  private:
    struct Entry {  // one per row of a pass: kept small
        std::size_t begin;  // in pool_
        std::uint32_t length;
        std::uint32_t item;  // an index into a list, as rows are
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
    std::size_t chars() const { return text_.size(); }
    void clear() {
        text_.clear();
        ends_.clear();
        regexStopped_.clear();
    }

    // The rows whose regular expression a limit stopped, in ascending order;
    // their names are without the replacement.
    const std::vector<std::size_t>& RegexStoppedRows() const { return regexStopped_; }
    bool RegexStopped(std::size_t row) const {
        return std::binary_search(regexStopped_.begin(), regexStopped_.end(), row);
    }
    // Rows are marked in ascending order.
    void MarkRegexStopped(std::size_t row) { regexStopped_.push_back(row); }

  private:
    std::u16string text_;
    std::vector<std::size_t> ends_;
    std::vector<std::size_t> regexStopped_;
};

// Builds new names one after another under one set of options, reusing its
// buffers between calls. Keeps a reference to options, which must outlive it;
// copies are independent composers for other threads.
class NewNameComposer {
  public:
    explicit NewNameComposer(const RenameOptions& options);

    const NameTemplate& Template() const { return template_; }

    // With the regex option: why the find text or the replacement cannot be
    // used (names are then composed without find and replace); else null.
    const RegexError* RegexFailure() const { return std::get_if<RegexError>(&regex_); }
    // Whether a limit stopped the regular expression in the last Compose,
    // whose name is then without the replacement.
    bool RegexStopped() const { return regexStopped_; }
    // From now on the regular expression is not tried: every name counts as
    // stopped. For a pass in which it has been stopped too often already.
    void GiveUpRegex() { regexGivenUp_ = true; }

    // The new name (name and extension, no folder) of the file at path for the
    // given sequence number, before it is made unique among the names given
    // out so far (see NeedsNumberSuffix); valid until the next call. With
    // facts, the template's size and time fields use them instead of asking
    // the disk; with now, its current-time fields use it; with fileTime, its
    // file date fields use it instead of the modified time.
    std::u16string_view Compose(std::u16string_view path, std::int32_t number,
                                const FileFacts* facts = nullptr,
                                const std::optional<LocalTime>* now = nullptr,
                                const LocalTime* fileTime = nullptr);

  private:
    const RenameOptions& options_;
    NameTemplate template_;
    std::u16string foldedFind_;  // the find text in lower case, for a caseless search
    // With the regex option and a find text: the compiled expression, or
    // why there is none.
    std::variant<std::monostate, RegexReplacer, RegexError> regex_;
    bool regexStopped_ = false;
    bool regexGivenUp_ = false;
    std::u16string name_;
    std::u16string scratch_;
    std::u16string folded_;
};

// An empty name, or one already given out, receives "_<number>" before its
// extension: "a.txt" becomes "a_2.txt".
bool NeedsNumberSuffix(std::u16string_view name, const NameRegistry& registry);
void InsertNumberSuffix(std::u16string& name, std::int32_t number);

// The new name of one file. Never fails.
std::u16string ComputeNewName(const RenameOptions& options, std::u16string_view path,
                              std::int32_t number, const NameRegistry& registry);

// Brings text to Unicode normalization form NFC; unchanged when it already is
// or when the conversion fails.
void NormalizeToNfc(std::u16string& text);

}  // namespace morix
