// The new file name of one item under the current options, and the registry
// through which no two rows of one pass receive the same name.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/file_info.h"
#include "engine/flat_hash_index.h"
#include "engine/name_template.h"
#include "engine/paths.h"
#include "engine/regex_replace.h"
#include "engine/rename_options.h"
#include "engine/text.h"

namespace morix {

// The new names of one pass, parallel to its rows, in one buffer.
class NameList {
  public:
    NameList() = default;
    NameList(const NameList& other)
        : text_(other.text_ ? std::make_unique<Text>(*other.text_) : nullptr),
          regexStopped_(other.regexStopped_) {}
    NameList(NameList&&) = default;
    NameList& operator=(const NameList& other) {
        if (this != &other) *this = NameList(other);
        return *this;
    }
    NameList& operator=(NameList&&) = default;

    std::size_t size() const { return text_ ? text_->ends.size() : 0; }
    bool empty() const { return size() == 0; }
    std::u16string_view operator[](std::size_t row) const { return text_->NameAt(row); }
    void push_back(std::u16string_view name) {
        Text& text = Storage();
        text.chars.append(name);
        text.ends.push_back(text.chars.size());
    }
    // Takes back the last name.
    void pop_back() {
        text_->ends.pop_back();
        text_->chars.resize(text_->ends.empty() ? 0 : text_->ends.back());
    }
    void reserve(std::size_t rows, std::size_t chars) {
        Text& text = Storage();
        text.ends.reserve(rows);
        text.chars.reserve(chars);
    }
    std::size_t chars() const { return text_ ? text_->chars.size() : 0; }
    void clear() {
        if (text_) {
            text_->chars.clear();
            text_->ends.clear();
        }
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
    friend class NameRegistry;

    // The names themselves, behind a pointer: a registry that indexes them
    // keeps finding them when the list is moved.
    struct Text {
        std::u16string chars;
        std::vector<std::size_t> ends;
        std::u16string_view NameAt(std::size_t row) const {
            const std::size_t begin = row == 0 ? 0 : ends[row - 1];
            return std::u16string_view(chars).substr(begin, ends[row] - begin);
        }
    };
    Text& Storage() {
        if (!text_) text_ = std::make_unique<Text>();
        return *text_;
    }

    std::unique_ptr<Text> text_;  // null until the first name
    std::vector<std::size_t> regexStopped_;
};

// New names given out so far in one pass, compared without regard to ASCII
// case, each mapped to the index of the item that received it. A pass's
// names are not copied: the registry indexes the rows of the NameList that
// holds them, which must outlive the registry's lookups (it may be moved)
// and keep those rows until the next Clear. Names registered on their own
// are kept in a list of the registry's.
class NameRegistry {
  public:
    void Clear();
    // Clears and gives the memory back.
    void Release();
    bool Contains(std::u16string_view name) const;
    // Adds a copy of name when absent; either way it now belongs to item.
    void Register(std::u16string_view name, std::size_t item);
    // Adds names[row] when absent; either way it now belongs to item.
    void Register(const NameList& names, std::size_t row, std::size_t item);
    // Adds names[row] for item when absent and returns true; false, changing
    // nothing, when it is already there. hash is HashOf(names[row]), which
    // callers may compute ahead, on other threads. All rows registered
    // between two Clears come from one list.
    bool RegisterNew(const NameList& names, std::size_t row, std::size_t hash, std::size_t item);
    static std::size_t HashOf(std::u16string_view name) { return NoCaseHash{}(name); }
    // Room for count names.
    void Reserve(std::size_t count);
    // The item that received name, or SIZE_MAX when none did.
    std::size_t ItemOf(std::u16string_view name) const;
    std::size_t Size() const { return entries_.size(); }

  private:
    struct Entry {  // one per row of a pass: kept small
        std::uint32_t name;  // a row of passNames_, or kOwn | a row of own_
        std::uint32_t item;  // an index into a list, as rows are
    };
    static constexpr std::uint32_t kOwn = 0x80000000u;

    std::u16string_view NameOf(std::uint32_t id) const {
        const std::uint32_t name = entries_[id].name;
        return (name & kOwn) != 0 ? own_[name & ~kOwn] : passNames_->NameAt(name);
    }
    // Adds the entry for name, which row of its list holds, unless an equal
    // name is there; returns the id of the entry that holds it now.
    std::uint32_t Insert(std::u16string_view name, std::size_t hash, std::uint32_t row,
                         std::size_t item);
    void UsePassNames(const NameList& names, std::size_t row);

    const NameList::Text* passNames_ = nullptr;
    NameList own_;
    std::vector<Entry> entries_;
    FlatHashIndex index_;
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

    // The new name (name and extension, no folder) of file for the
    // given sequence number, before it is made unique among the names given
    // out so far (see NeedsNumberSuffix); valid until the next call. With
    // facts, the template's size and time fields use them instead of asking
    // the disk; with now, its current-time fields use it; with fileTime, its
    // file date fields use it instead of the modified time.
    std::u16string_view Compose(const PathParts& file, std::int32_t number,
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
