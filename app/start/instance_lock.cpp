#include "app/start/instance_lock.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "os/file_lock.h"

namespace morix::start {

std::string InstanceLockPath(const std::string& runtimeFolder) {
    return runtimeFolder + "/TrelvoRenamer-{C4AD7A52-B151-4798-9581-680438D7F533}.lock";
}

std::string HandOverSocketPath(const std::string& runtimeFolder) {
    return runtimeFolder + "/TrelvoRenamer-{1413A7F0-F21B-4A7D-8119-60926C50C517}.socket";
}

InstanceLock::~InstanceLock() = default;  // closing the file drops the lock

InstanceLock::Result InstanceLock::TryAcquire(const std::string& path) {
    if (held_.Valid()) return Result::kAcquired;
    const int error = HoldLockFile(path, false, held_);
    return error == 0             ? Result::kAcquired
           : error == EWOULDBLOCK ? Result::kHeldElsewhere
                                  : Result::kUnavailable;
}

void InstanceLock::Release() {
    held_.Reset();
}

bool PeerIsSameUser(int socketFd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
    return size == sizeof peer && peer.uid == ::geteuid();
}

}  // namespace morix::start
