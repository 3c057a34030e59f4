#include "thread/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace morix {

JEvent::JEvent(Mode mode, bool initiallySignalled) : mode_(mode) {
    fd_ = eventfd(initiallySignalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
}

JEvent::~JEvent() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void JEvent::Set() {
    if (fd_ < 0) {
        return;
    }
    // The counter only needs to be non-zero; several Sets before a reset are
    // one signal, as the reading side drains the whole counter at once.
    const std::uint64_t one = 1;
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void JEvent::Reset() {
    if (fd_ < 0) {
        return;
    }
    std::uint64_t value = 0;
    while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool JEvent::TryAcquire() {
    if (fd_ < 0) {
        return false;
    }
    if (mode_ == Mode::kAutoReset) {
        // Reading resets the counter, so of several threads woken by one
        // signal exactly one gets it.
        std::uint64_t value = 0;
        ssize_t got;
        while ((got = read(fd_, &value, sizeof value)) < 0 && errno == EINTR) {
        }
        return got == sizeof value;
    }
    pollfd p{fd_, POLLIN, 0};
    int ready;
    while ((ready = poll(&p, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready == 1 && (p.revents & POLLIN) != 0;
}

}  // namespace morix
