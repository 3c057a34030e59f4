#include "engine/paths.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "engine/file_info.h"
#include "engine/text.h"

namespace morix {

namespace {

// Index just past the last c in s, 0 when there is none. A plain loop: the
// generic rfind of char16_t views is several times slower, and these run a
// few times for every row of every preview.
std::size_t AfterLast(std::u16string_view s, char16_t c) {
    std::size_t i = s.size();
    while (i > 0 && s[i - 1] != c)
        --i;
    return i;
}

}  // namespace

std::u16string_view FileName(std::u16string_view path) {
    return path.substr(AfterLast(path, u'/'));
}

std::u16string PathParts::Whole() const {
    std::u16string path;
    path.reserve(folder.size() + name.size());
    path.append(folder);
    path.append(name);
    return path;
}

PathParts SplitPath(std::u16string_view path) {
    const std::size_t at = AfterLast(path, u'/');
    return {path.substr(0, at), path.substr(at)};
}

std::u16string_view Extension(std::u16string_view path) {
    const std::u16string_view name = FileName(path);
    const std::size_t dot = AfterLast(name, u'.');
    return dot == 0 ? std::u16string_view{} : name.substr(dot);
}

std::u16string_view Folder(std::u16string_view path) {
    const std::size_t slash = AfterLast(path, u'/');
    return slash == 0 ? std::u16string_view{} : path.substr(0, slash - 1);
}

std::u16string_view RemoveExtension(std::u16string_view s) {
    const std::size_t ext = Extension(s).size();
    return ext == 0 ? s : s.substr(0, s.size() - ext - 1);
}

std::u16string JoinNameExt(std::u16string_view name, std::u16string_view ext) {
    std::u16string out;
    out.reserve(name.size() + 1 + ext.size());
    out.append(name);
    if (!ext.empty()) {
        out.push_back(u'.');
        out.append(ext);
    }
    return out;
}

std::u16string CombinePath(std::u16string_view base, std::u16string_view name) {
    if (name.empty()) return std::u16string(base);
    if (!name.empty() && name.front() == u'/') name.remove_prefix(1);
    std::u16string out;
    out.reserve(base.size() + 1 + name.size());
    out.append(base);
    if (base.empty() || base.back() != u'/') out.push_back(u'/');
    out.append(name);
    return out;
}

std::u16string NormalizeLexically(std::u16string_view path) {
    const bool absolute = !path.empty() && path.front() == u'/';
    std::u16string out;
    out.reserve(path.size() + 1);
    if (absolute) out.push_back(u'/');
    const std::size_t base = out.size();  // out never shrinks below this
    std::size_t kept = 0;                 // components in out that ".." may take away
    while (!path.empty()) {
        const std::size_t end = std::min(path.find(u'/'), path.size());
        const std::u16string_view part = path.substr(0, end);
        path.remove_prefix(std::min(end + 1, path.size()));
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (kept > 0) {
                std::size_t cut = out.size();
                while (cut > base && out[cut - 1] != u'/')
                    --cut;
                out.resize(cut > base ? cut - 1 : base);
                --kept;
                continue;
            }
            if (absolute) continue;  // the root's parent is the root
        } else {
            ++kept;
        }
        if (out.size() > base) out.push_back(u'/');
        out.append(part);
    }
    if (out.empty()) out.push_back(u'.');
    return out;
}

std::u16string UniqueTempPath(std::u16string_view folder, std::u16string_view prefix,
                              std::u16string_view ext,
                              const std::function<bool(const std::u16string&)>& exists,
                              std::int64_t* next) {
    std::u16string name;
    for (std::int64_t n = next != nullptr ? *next : 0; n <= INT_MAX; ++n) {
        char digits[24];
        std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(n));
        name.assign(prefix);
        AppendAscii(name, digits);
        name.push_back(u'.');
        name.append(ext);
        std::u16string candidate = CombinePath(folder, name);
        if (!exists(candidate)) {
            if (next != nullptr) *next = n + 1;
            return candidate;
        }
    }
    return {};
}

std::u16string UniqueTempPath(std::u16string_view folder, std::u16string_view prefix,
                              std::u16string_view ext) {
    return UniqueTempPath(folder, prefix, ext,
                          [](const std::u16string& path) { return FileExists(path); });
}

}  // namespace morix
