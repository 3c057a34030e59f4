#include "engine/new_name.h"

#include <unicode/unorm2.h>

#include <cstdio>

#include "engine/name_template.h"
#include "engine/paths.h"
#include "engine/text.h"

namespace morix {
namespace {

bool IsForbiddenInName(char16_t c) {
    switch (c) {
        case u'"':
        case u'*':
        case u'/':
        case u':':
        case u'<':
        case u'>':
        case u'?':
        case u'\\':
        case u'|':
            return true;
        default:
            return false;
    }
}

void ApplyCase(std::u16string& name, std::u16string_view base, std::u16string_view ext,
               CaseMode mode) {
    switch (mode) {
        case CaseMode::kNoChange:
            break;
        case CaseMode::kAllUpper:
            AsciiUpperInPlace(name);
            break;
        case CaseMode::kAllLower:
            AsciiLowerInPlace(name);
            break;
        case CaseMode::kNameUpper:
        case CaseMode::kNameLower: {
            std::u16string b(base);
            mode == CaseMode::kNameUpper ? AsciiUpperInPlace(b) : AsciiLowerInPlace(b);
            name = JoinNameExt(b, ext);
            break;
        }
        case CaseMode::kExtensionUpper:
        case CaseMode::kExtensionLower: {
            std::u16string e(ext);
            mode == CaseMode::kExtensionUpper ? AsciiUpperInPlace(e) : AsciiLowerInPlace(e);
            name = JoinNameExt(base, e);
            break;
        }
        case CaseMode::kFirstUpper:
            AsciiLowerInPlace(name);
            if (!name.empty())
                name[0] = AsciiUpper(name[0]);
            break;
    }
}

// Non-overlapping, left to right; the search resumes behind each inserted
// replacement, so a replacement that contains the search text cannot loop.
void FindAndReplace(std::u16string& name, std::u16string_view find, std::u16string_view replace,
                    bool caseSensitive) {
    std::u16string haystack;
    std::u16string needle;
    std::u16string_view hay = name;
    std::u16string_view pin = find;
    if (!caseSensitive) {
        haystack = name;
        AsciiLowerInPlace(haystack);
        needle = find;
        AsciiLowerInPlace(needle);
        hay = haystack;
        pin = needle;
    }
    std::size_t match = hay.find(pin);
    if (match == std::u16string_view::npos)
        return;
    std::u16string out;
    std::size_t from = 0;
    while (match != std::u16string_view::npos) {
        out.append(name, from, match - from);
        out.append(replace);
        from = match + pin.size();
        match = hay.find(pin, from);
    }
    out.append(name, from);
    name = std::move(out);
}

void TrimSpaces(std::u16string& name) {
    std::size_t end = name.size();
    while (end > 0 && IsSpaceChar(name[end - 1]))
        --end;
    std::size_t begin = 0;
    while (begin < end && IsSpaceChar(name[begin]))
        ++begin;
    if (begin != 0 || end != name.size())
        name = name.substr(begin, end - begin);
}

}  // namespace

void NameRegistry::Register(const std::u16string& name, std::size_t item) {
    names_.insert_or_assign(name, item);
}

void NormalizeToNfc(std::u16string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status))
        return;
    const UChar* src = reinterpret_cast<const UChar*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    const int32_t prefix = unorm2_spanQuickCheckYes(nfc, src, length, &status);
    if (U_FAILURE(status) || prefix == length)
        return;

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
        if (U_FAILURE(status))
            return;
        result.resize(static_cast<std::size_t>(needed));
        text = std::move(result);
        return;
    }
}

std::u16string ComputeNewName(const RenameOptions& options, std::u16string_view path,
                              std::int32_t number, const NameRegistry& registry) {
    const std::u16string_view fileName = FileName(path);
    std::u16string base = options.nameTemplate.empty()
                              ? std::u16string(RemoveExtension(fileName))
                              : NameTemplate::Expand(options.nameTemplate, path, number);
    const std::u16string_view ext =
        options.changeExtension ? std::u16string_view(options.newExtension) : Extension(fileName);

    std::u16string name = JoinNameExt(base, ext);
    ApplyCase(name, base, ext, options.caseMode);
    if (!options.findText.empty()) {
        FindAndReplace(name, options.findText, options.replaceText, options.caseSensitive);
    }
    if (options.normalizeUnicode)
        NormalizeToNfc(name);
    TrimSpaces(name);
    for (char16_t& c : name) {
        if (IsForbiddenInName(c))
            c = u'_';
    }

    if (name.empty() || registry.Contains(name)) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "_%d", static_cast<int>(number));
        std::u16string stem(RemoveExtension(name));
        AppendAscii(stem, suffix);
        name = JoinNameExt(stem, Extension(name));
    }
    return name;
}

}  // namespace morix
