#include "engine/new_name.h"

#include <unicode/unorm2.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "engine/name_template.h"
#include "engine/paths.h"
#include "engine/text.h"

namespace morix {
namespace {

void ChangeCase(std::u16string& text, std::size_t begin, std::size_t end, bool upper) {
    for (std::size_t i = begin; i < end; ++i)
        text[i] = upper ? AsciiUpper(text[i]) : AsciiLower(text[i]);
}

// Applies the case mode to name, which is its base name, then a dot and its
// extension when extension > 0 characters long.
void ApplyCase(std::u16string& name, std::size_t extension, CaseMode mode) {
    const std::size_t base = extension == 0 ? name.size() : name.size() - extension - 1;
    switch (mode) {
        case CaseMode::kNoChange:
            break;
        case CaseMode::kAllUpper:
        case CaseMode::kAllLower:
            ChangeCase(name, 0, name.size(), mode == CaseMode::kAllUpper);
            break;
        case CaseMode::kNameUpper:
        case CaseMode::kNameLower:
            ChangeCase(name, 0, base, mode == CaseMode::kNameUpper);
            break;
        case CaseMode::kExtensionUpper:
        case CaseMode::kExtensionLower:
            ChangeCase(name, name.size() - extension, name.size(),
                       mode == CaseMode::kExtensionUpper);
            break;
        case CaseMode::kFirstUpper:
            AsciiLowerInPlace(name);
            if (!name.empty()) name[0] = AsciiUpper(name[0]);
            break;
    }
}

// Non-overlapping, left to right; the search resumes behind each inserted
// replacement, so a replacement that contains the search text cannot loop.
// Without caseSensitive the search runs on an ASCII-folded copy of name, for
// foldedFind, the find text folded the same way.
void FindAndReplace(std::u16string& name, const RenameOptions& options,
                    std::u16string_view foldedFind, std::u16string& scratch,
                    std::u16string& folded) {
    std::u16string_view hay = name;
    std::u16string_view needle = options.findText;
    if (!options.caseSensitive) {
        folded = name;
        AsciiLowerInPlace(folded);
        hay = folded;
        needle = foldedFind;
    }
    std::size_t match = hay.find(needle);
    if (match == std::u16string_view::npos) return;
    scratch.clear();
    std::size_t from = 0;
    while (match != std::u16string_view::npos) {
        scratch.append(name, from, match - from);
        scratch.append(options.replaceText);
        from = match + needle.size();
        match = hay.find(needle, from);
    }
    scratch.append(name, from);
    name.swap(scratch);
}

void TrimSpaces(std::u16string& name) {
    std::size_t end = name.size();
    while (end > 0 && IsSpaceChar(name[end - 1]))
        --end;
    std::size_t begin = 0;
    while (begin < end && IsSpaceChar(name[begin]))
        ++begin;
    name.erase(end);
    name.erase(0, begin);
}

}  // namespace

void NameRegistry::Clear() {
    passNames_ = nullptr;
    own_.clear();
    entries_.clear();
    index_.Clear();
}

void NameRegistry::Release() {
    passNames_ = nullptr;
    own_ = NameList();
    std::vector<Entry>().swap(entries_);
    index_ = FlatHashIndex();
}

void NameRegistry::Reserve(std::size_t count) {
    entries_.reserve(count);
    index_.Reserve(count);
}

bool NameRegistry::Contains(std::u16string_view name) const {
    return ItemOf(name) != SIZE_MAX;
}

std::size_t NameRegistry::ItemOf(std::u16string_view name) const {
    const std::uint32_t id = index_.Find(
        NoCaseHash{}(name), [&](std::uint32_t other) { return EqualsNoCase(NameOf(other), name); });
    return id == FlatHashIndex::kNone ? SIZE_MAX : entries_[id].item;
}

std::uint32_t NameRegistry::Insert(std::u16string_view name, std::size_t hash, std::uint32_t row,
                                   std::size_t item) {
    const auto next = static_cast<std::uint32_t>(entries_.size());
    const std::uint32_t id = index_.Insert(
        hash, next, [&](std::uint32_t other) { return EqualsNoCase(NameOf(other), name); });
    if (id == next) entries_.push_back(Entry{row, static_cast<std::uint32_t>(item)});
    return id;
}

void NameRegistry::UsePassNames(const NameList& names, std::size_t row) {
    if ((passNames_ != nullptr && passNames_ != names.text_.get()) || row >= kOwn) {
        std::fprintf(stderr, "NameRegistry: row %zu of another list or out of range\n", row);
        std::abort();
    }
    passNames_ = names.text_.get();
}

bool NameRegistry::RegisterNew(const NameList& names, std::size_t row, std::size_t hash,
                               std::size_t item) {
    UsePassNames(names, row);
    const auto next = static_cast<std::uint32_t>(entries_.size());
    return Insert(names[row], hash, static_cast<std::uint32_t>(row), item) == next;
}

void NameRegistry::Register(const NameList& names, std::size_t row, std::size_t item) {
    UsePassNames(names, row);
    const std::u16string_view name = names[row];
    const auto next = static_cast<std::uint32_t>(entries_.size());
    const std::uint32_t id = Insert(name, HashOf(name), static_cast<std::uint32_t>(row), item);
    if (id != next) entries_[id].item = static_cast<std::uint32_t>(item);
}

void NameRegistry::Register(std::u16string_view name, std::size_t item) {
    const auto next = static_cast<std::uint32_t>(entries_.size());
    const auto row = static_cast<std::uint32_t>(own_.size());
    const std::uint32_t id = Insert(name, HashOf(name), kOwn | row, item);
    if (id == next) {
        own_.push_back(name);
    } else {
        entries_[id].item = static_cast<std::uint32_t>(item);
    }
}

void NormalizeToNfc(std::u16string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status)) return;
    // Text below U+0300 holds no combining mark and is in NFC as it stands;
    // most names are.
    char16_t highest = 0;
    for (const char16_t c : text)
        highest = std::max(highest, c);
    if (highest < 0x300) return;
    const UChar* src = reinterpret_cast<const UChar*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    const int32_t prefix = unorm2_spanQuickCheckYes(nfc, src, length, &status);
    if (U_FAILURE(status) || prefix == length) return;

    std::u16string result(text.size() + text.size() / 2 + 8, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        status = U_ZERO_ERROR;
        const int32_t needed =
            unorm2_normalize(nfc, src, length, reinterpret_cast<UChar*>(result.data()),
                             static_cast<int32_t>(result.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            result.assign(static_cast<std::size_t>(needed), u'\0');
            continue;
        }
        if (U_FAILURE(status)) return;
        result.resize(static_cast<std::size_t>(needed));
        text = std::move(result);
        return;
    }
}

NewNameComposer::NewNameComposer(const RenameOptions& options)
    : options_(options), template_(options.nameTemplate), foldedFind_(options.findText) {
    AsciiLowerInPlace(foldedFind_);
    if (options.regex && !options.findText.empty()) {
        std::visit(
            [this](auto&& compiled) { regex_ = std::move(compiled); },
            RegexReplacer::Compile(options.findText, options.replaceText, options.caseSensitive));
    }
}

std::u16string_view NewNameComposer::Compose(const PathParts& file, std::int32_t number,
                                             const FileFacts* facts,
                                             const std::optional<LocalTime>* now,
                                             const LocalTime* fileTime) {
    const std::u16string_view fileName = file.name;
    name_.clear();
    if (options_.nameTemplate.empty()) {
        name_.append(RemoveExtension(fileName));
    } else {
        template_.ExpandInto(name_, file, number, facts, now, fileTime);
    }
    const std::u16string_view extension =
        options_.changeExtension ? std::u16string_view(options_.newExtension) : Extension(fileName);
    if (!extension.empty()) {
        name_.push_back(u'.');
        name_.append(extension);
    }
    ApplyCase(name_, extension.size(), options_.caseMode);
    regexStopped_ = false;
    if (RegexReplacer* regex = std::get_if<RegexReplacer>(&regex_)) {
        regexStopped_ = regexGivenUp_ || !regex->ReplaceAll(name_);
    } else if (!options_.findText.empty() && !options_.regex) {
        FindAndReplace(name_, options_, foldedFind_, scratch_, folded_);
    }
    if (options_.normalizeUnicode) NormalizeToNfc(name_);
    TrimSpaces(name_);
    ReplaceForbiddenChars(name_);
    return name_;
}

bool NeedsNumberSuffix(std::u16string_view name, const NameRegistry& registry) {
    return name.empty() || registry.Contains(name);
}

void InsertNumberSuffix(std::u16string& name, std::int32_t number) {
    char digits[16];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
    const std::size_t extension = Extension(name).size();
    // The suffix goes before the extension: "a.txt" becomes "a_2.txt".
    const std::size_t at = extension == 0 ? name.size() : name.size() - extension - 1;
    std::u16string suffix = u"_";
    AppendAscii(suffix, std::string_view(digits, static_cast<std::size_t>(end - digits)));
    name.insert(at, suffix);
}

std::u16string ComputeNewName(const RenameOptions& options, std::u16string_view path,
                              std::int32_t number, const NameRegistry& registry) {
    NewNameComposer composer(options);
    std::u16string name(composer.Compose(SplitPath(path), number));
    if (NeedsNumberSuffix(name, registry)) InsertNumberSuffix(name, number);
    return name;
}

}  // namespace morix
