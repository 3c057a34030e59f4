#include "base/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

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

}  // namespace morix
