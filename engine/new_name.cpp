#include "engine/new_name.h"

#include <unicode/unorm2.h>

#include <cstdio>

#include "engine/name_template.h"
#include "engine/paths.h"
#include "engine/text.h"

namespace morix {
namespace {

void ChangeCase(std::u16string& text, bool upper) {
    upper ? AsciiUpperInPlace(text) : AsciiLowerInPlace(text);
}

// Applies the case mode to name = base [+ "." + ext]; base and ext are the
// parts name was joined from.
void ApplyCase(std::u16string& name, std::u16string& base, std::u16string& ext, CaseMode mode) {
    switch (mode) {
        case CaseMode::kNoChange:
            break;
        case CaseMode::kAllUpper:
        case CaseMode::kAllLower:
            ChangeCase(name, mode == CaseMode::kAllUpper);
            break;
        case CaseMode::kNameUpper:
        case CaseMode::kNameLower:
            ChangeCase(base, mode == CaseMode::kNameUpper);
            name = JoinNameExt(base, ext);
            break;
        case CaseMode::kExtensionUpper:
        case CaseMode::kExtensionLower:
            ChangeCase(ext, mode == CaseMode::kExtensionUpper);
            name = JoinNameExt(base, ext);
            break;
        case CaseMode::kFirstUpper:
            AsciiLowerInPlace(name);
            if (!name.empty()) name[0] = AsciiUpper(name[0]);
            break;
    }
}

// Non-overlapping, left to right; the search resumes behind each inserted
// replacement, so a replacement that contains the search text cannot loop.
// Without caseSensitive the search runs on ASCII-folded copies.
void FindAndReplace(std::u16string& name, const RenameOptions& options, std::u16string& scratch,
                    std::u16string& folded) {
    std::u16string_view hay = name;
    std::u16string_view needle = options.findText;
    std::u16string foldedNeedle;
    if (!options.caseSensitive) {
        folded = name;
        AsciiLowerInPlace(folded);
        foldedNeedle = options.findText;
        AsciiLowerInPlace(foldedNeedle);
        hay = folded;
        needle = foldedNeedle;
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
    pool_.clear();
    entries_.clear();
    index_.Clear();
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

void NameRegistry::Register(std::u16string_view name, std::size_t item) {
    const auto next = static_cast<std::uint32_t>(entries_.size());
    const std::uint32_t id = index_.Insert(NoCaseHash{}(name), next, [&](std::uint32_t other) {
        return EqualsNoCase(NameOf(other), name);
    });
    if (id == next) {
        entries_.push_back(Entry{pool_.size(), name.size(), item});
        pool_.append(name);
    } else {
        entries_[id].item = item;
    }
}

void NormalizeToNfc(std::u16string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status)) return;
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

std::u16string_view NewNameComposer::Compose(const RenameOptions& options, std::u16string_view path,
                                             std::int32_t number, const NameRegistry& registry,
                                             const FileFacts* facts) {
    const std::u16string_view fileName = FileName(path);
    base_.clear();
    if (options.nameTemplate.empty()) {
        base_.append(RemoveExtension(fileName));
    } else {
        NameTemplate::ExpandInto(base_, options.nameTemplate, path, number, facts);
    }
    scratch_.assign(options.changeExtension ? std::u16string_view(options.newExtension)
                                            : Extension(fileName));

    name_.assign(base_);
    if (!scratch_.empty()) {
        name_.push_back(u'.');
        name_.append(scratch_);
    }
    ApplyCase(name_, base_, scratch_, options.caseMode);
    if (!options.findText.empty()) FindAndReplace(name_, options, scratch_, folded_);
    if (options.normalizeUnicode) NormalizeToNfc(name_);
    TrimSpaces(name_);
    for (char16_t& c : name_) {
        if (IsForbiddenNameChar(c)) c = u'_';
    }

    if (name_.empty() || registry.Contains(name_)) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "_%d", static_cast<int>(number));
        const std::size_t extension = Extension(name_).size();
        // The suffix goes before the extension: "a.txt" becomes "a_2.txt".
        const std::size_t at = extension == 0 ? name_.size() : name_.size() - extension - 1;
        scratch_.clear();
        AppendAscii(scratch_, suffix);
        name_.insert(at, scratch_);
    }
    return name_;
}

std::u16string ComputeNewName(const RenameOptions& options, std::u16string_view path,
                              std::int32_t number, const NameRegistry& registry) {
    NewNameComposer composer;
    return std::u16string(composer.Compose(options, path, number, registry));
}

}  // namespace morix
