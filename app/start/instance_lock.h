// The per-user lock that tells whether a renamer window already runs, and
// the names of the lock file and the renamer's socket in the user's private
// runtime folder.
#pragma once

#include <string>

#include "os/unique_fd.h"

namespace morix::start {

// <folder>/TrelvoRenamer-{C4AD7A52-...}.lock
std::string InstanceLockPath(const std::string& runtimeFolder);
// <folder>/TrelvoRenamer-{1413A7F0-...}.socket, where the running window takes
// paths and close requests.
std::string HandOverSocketPath(const std::string& runtimeFolder);

// An advisory lock (flock) on a file, held until Release or destruction. The
// system drops it when the process ends in any way, so a renamer that crashed
// never blocks the next; started programs do not inherit it.
class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum class Result {
        kAcquired,       // this object holds the lock (also when it did before)
        kHeldElsewhere,  // another holder has it
        kUnavailable,    // the lock file cannot be opened or locked
    };
    // Takes the lock on path without waiting, creating the file with mode
    // 0600 when missing.
    Result TryAcquire(const std::string& path);
    void Release();
    bool Held() const { return held_.Valid(); }

  private:
    UniqueFd held_;
};

// Whether the process at the other end of a connected local socket runs as
// this process's user.
bool PeerIsSameUser(int socketFd);

}  // namespace morix::start
