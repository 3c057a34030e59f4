#include "app/start/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace morix::start {

std::string InstanceLockPath(const std::string& runtimeFolder) {
    return runtimeFolder + "/TrelvoRenamer-{C4AD7A52-B151-4798-9581-680438D7F533}.lock";
}

std::string HandOverSocketPath(const std::string& runtimeFolder) {
    return runtimeFolder + "/TrelvoRenamer-{1413A7F0-F21B-4A7D-8119-60926C50C517}.socket";
}

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::Result InstanceLock::TryAcquire(const std::string& path) {
    if (fd_ >= 0) return Result::kAcquired;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::kUnavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? Result::kHeldElsewhere : Result::kUnavailable;
    }
    fd_ = fd;
    return Result::kAcquired;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);  // drops the lock
    fd_ = -1;
}

bool PeerIsSameUser(int socketFd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
    return size == sizeof peer && peer.uid == ::geteuid();
}

}  // namespace morix::start
