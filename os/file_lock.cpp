#include "os/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace morix {

int LockFile(int fd, bool wait) {
    while (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

int HoldLockFile(const std::string& path, bool wait, UniqueFd& held) {
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid()) return errno;
    if (const int error = LockFile(fd.Get(), wait); error != 0) return error;
    held = std::move(fd);
    return 0;
}

}  // namespace morix
