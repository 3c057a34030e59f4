#include "base/user_dirs.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace morix {
namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

std::string FolderFromEnvironment(const char* variable, const char* underHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') return value;
    std::string home = HomeFolder();
    if (home.empty()) return {};
    if (home.back() != '/') home += '/';
    return home + underHome;
}

// The file that path names: the target of a symbolic link, else path itself.
std::optional<std::string> ResolveLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
    return std::string(resolved);
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
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

std::string UserConfigHome() {
    return FolderFromEnvironment("XDG_CONFIG_HOME", ".config");
}

std::string UserDataHome() {
    return FolderFromEnvironment("XDG_DATA_HOME", ".local/share");
}

std::string UserStateHome() {
    return FolderFromEnvironment("XDG_STATE_HOME", ".local/state");
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (missing) *missing = errno == ENOENT;
        return std::nullopt;
    }
    std::optional<std::string> result;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) <= maxBytes) {
        std::string text;
        char buffer[16384];
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
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
    ::close(fd);
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
    const int folder = ::open(ParentFolder(*target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

}  // namespace morix
