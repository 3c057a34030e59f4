// The user's private runtime folder, where the renamer and the notice popup
// keep their locks and sockets. Header-only: the popup links no code of the
// renamer, yet both must find the same folder.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

namespace morix {

namespace runtime_folder_detail {

// A folder of this user's own that no one else can enter or change.
inline bool IsPrivateFolder(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

}  // namespace runtime_folder_detail

// $XDG_RUNTIME_DIR when it is an absolute path to a folder of the user's own
// that nobody else may enter, else /tmp/trelvo-<uid>, made with mode 0700 and
// checked the same way. None when neither will do.
inline std::optional<std::string> PrivateRuntimeFolder() {
    using runtime_folder_detail::IsPrivateFolder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime)) return runtime;

    const std::string fallback = "/tmp/trelvo-" + std::to_string(::geteuid());
    if (::mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (!IsPrivateFolder(fallback)) return std::nullopt;
    return fallback;
}

}  // namespace morix
