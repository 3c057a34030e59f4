#include "engine/canonical_path.h"

#include <stdlib.h>
#include <time.h>

#include <memory>

#include "engine/paths.h"
#include "engine/text.h"

namespace morix {
namespace {

// How long a resolved folder is used again without asking the file system.
constexpr std::int64_t kRememberMs = 100;

// A clock read through the vDSO in a few nanoseconds: it is read per path.
std::int64_t CoarseNowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

struct FreeDeleter {
    void operator()(char* p) const { ::free(p); }
};

// realpath(3) of an absolute path; NormalizeLexically(path) when it does not
// resolve.
std::u16string Resolve(std::u16string_view path) {
    const std::string bytes = EncodeFileName(path);
    const std::unique_ptr<char, FreeDeleter> real(::realpath(bytes.c_str(), nullptr));
    return real ? DecodeFileName(real.get()) : NormalizeLexically(path);
}

}  // namespace

void PathCanonicalizer::ResolveFolder(std::u16string_view folder) {
    const std::int64_t now = CoarseNowMs();
    if (remembered_ && now - rememberedAtMs_ < kRememberMs && folder == givenFolder_) return;
    givenFolder_.assign(folder);
    resolvedFolder_ = Resolve(folder.empty() ? std::u16string_view(u"/") : folder);
    // The root's folder part is "" and resolves to "/": not the same text,
    // though joining either with a name gives the same path.
    folderUnchanged_ = resolvedFolder_ == givenFolder_;
    remembered_ = true;
    rememberedAtMs_ = now;
}

std::u16string PathCanonicalizer::Canonical(std::u16string path) {
    if (path.empty() || path.front() != u'/') return path;
    const std::u16string_view view = path;
    std::size_t end = view.size();
    while (end > 1 && view[end - 1] == u'/')
        --end;
    std::size_t nameStart = end;  // view[0] is "/", so this stops
    while (view[nameStart - 1] != u'/')
        --nameStart;
    const std::u16string_view name = view.substr(nameStart, end - nameStart);
    if (end != view.size() || name.empty() || name == u"." || name == u"..") {
        return Resolve(view.substr(0, end));
    }
    ResolveFolder(view.substr(0, nameStart - 1));
    if (folderUnchanged_) return path;  // already canonical: no copy
    return CombinePath(resolvedFolder_, name);
}

}  // namespace morix
