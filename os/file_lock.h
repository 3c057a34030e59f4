// Whole-file locks (flock): held by an open file, gone with it, also when
// the process ends.
#pragma once

#include <string>

#include "os/unique_fd.h"

namespace morix {

// Locks the file open on fd exclusively, waiting for it when wait is set:
// 0, EWOULDBLOCK when another holds it and wait is not set, or another
// errno value (EOPNOTSUPP, ENOLCK, ... where the volume cannot lock).
int LockFile(int fd, bool wait);

// Opens (creating it, private to the user, never through a final symbolic
// link) the lock file at path and locks it: 0 with held owning the lock, or
// an errno value as LockFile gives it.
int HoldLockFile(const std::string& path, bool wait, UniqueFd& held);

}  // namespace morix
