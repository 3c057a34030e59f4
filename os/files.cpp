#include "os/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "os/unique_fd.h"

namespace morix {
namespace {

// The file that path names: the target of a symbolic link, else path itself.
std::optional<std::string> ResolveLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
    return std::string(resolved);
}


bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& path, mode_t mode, std::vector<std::string>* created) {
    if (path.empty() || path[0] != '/') return false;
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = path.find('/', end + 1);
        const std::string prefix = path.substr(0, end);
        if (prefix.empty() || prefix.back() == '/') continue;  // a doubled or trailing slash
        if (::mkdir(prefix.c_str(), mode) == 0) {
            if (created) created->push_back(prefix);
            continue;
        }
        struct stat info {};
        if (errno != EEXIST || ::stat(prefix.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return false;
    }
    return true;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes,
                                         bool* missing) {
    if (missing) *missing = false;
    // Non-blocking, so that a pipe put in place of the file cannot hang the
    // program; it is refused below as not a regular file.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        if (missing) *missing = errno == ENOENT;
        return std::nullopt;
    }
    std::optional<std::string> result;
    struct stat info {};
    if (::fstat(fd.Get(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) <= maxBytes) {
        std::string text;
        char buffer[16384];
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 || text.size() + static_cast<std::size_t>(n) > maxBytes) {
                ok = false;  // a read error, or the file grew past the limit
                break;
            }
            if (n == 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        if (ok) result = std::move(text);
    }
    return result;
}

std::string TemporarySiblingPrefix(const std::string& path) {
    return ResolveLink(path).value_or(path) + ".tmp.";
}

bool ReplaceFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                           const std::function<void()>& beforeReplace) {
    const std::optional<std::string> target = ResolveLink(path);
    if (!target) return false;  // a dangling link: where the file should go is unknown
    std::string temp = *target + ".tmp.XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, contents) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && beforeReplace) beforeReplace();
    if (!ok || ::rename(temp.c_str(), target->c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; the new file is complete either way.
    const UniqueFd folder(::open(ParentFolder(*target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Valid()) ::fsync(folder.Get());
    return true;
}

}  // namespace morix
