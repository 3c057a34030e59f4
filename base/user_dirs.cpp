#include "base/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
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

std::vector<std::string> SystemDataDirs() {
    std::vector<std::string> folders;
    const char* value = std::getenv("XDG_DATA_DIRS");
    std::string_view rest = value != nullptr ? value : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        std::string_view folder = rest.substr(0, colon);
        rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon + 1);
        while (folder.size() > 1 && folder.back() == '/')
            folder.remove_suffix(1);
        if (!folder.empty() && folder.front() == '/') folders.emplace_back(folder);
    }
    if (folders.empty()) folders = {"/usr/local/share", "/usr/share"};
    return folders;
}

}  // namespace morix
