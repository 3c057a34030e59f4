#include "thread/thread.h"

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <system_error>

namespace morix {
namespace {

thread_local JThread* tCurrentThread = nullptr;

bool NiceForPriority(int priority, int& nice) {
    switch (priority) {
        case JThread::kPriorityIdle:
            nice = 19;
            return true;
        case JThread::kPriorityLowest:
            nice = 10;
            return true;
        case JThread::kPriorityBelowNormal:
            nice = 5;
            return true;
        case JThread::kPriorityNormal:
            nice = 0;
            return true;
        case JThread::kPriorityAboveNormal:
            nice = -5;
            return true;
        case JThread::kPriorityHighest:
            nice = -10;
            return true;
        case JThread::kPriorityTimeCritical:
            nice = -20;
            return true;
        default:
            return false;
    }
}

}  // namespace

JThread::~JThread() {
    RequestStop();
    if (!Join(kInfinite) && thread_.joinable()) {
        // Destroyed from its own thread: nobody can wait for it any more.
        thread_.detach();
    }
}

void JThread::Run() {
    if (target_ != nullptr) {
        target_->Run();
    }
}

bool JThread::Start() {
    if (IsRunning()) {
        return false;
    }
    if (thread_.joinable()) {
        thread_.join();  // Run has returned; the thread is ending or gone
    }
    stopRequested_.store(false, std::memory_order_release);
    stopEvent_.Reset();
    {
        std::lock_guard lock(stateMutex_);
        running_ = true;
        tid_ = 0;
    }
    try {
        thread_ = std::thread([this] { Entry(); });
    } catch (const std::system_error&) {
        std::lock_guard lock(stateMutex_);
        running_ = false;
        return false;
    }
    return true;
}

void JThread::Entry() {
    tCurrentThread = this;
    {
        std::lock_guard lock(stateMutex_);
        tid_ = gettid();
    }
    ended_.notify_all();
    Run();
    {
        // Marked under the lock, so SetPriority never touches a thread id
        // after this thread has gone and the id may have been reused.
        std::lock_guard lock(stateMutex_);
        running_ = false;
    }
    ended_.notify_all();
}

bool JThread::Join(std::uint32_t timeoutMs) {
    // Asked on the object's own thread, which may be running before Start
    // has even stored its handle: it can never see itself end.
    if (tCurrentThread == this) {
        return false;
    }
    if (!thread_.joinable()) {
        return true;
    }
    {
        std::unique_lock lock(stateMutex_);
        if (timeoutMs == kInfinite) {
            ended_.wait(lock, [this] { return !running_; });
        } else if (!ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this] { return !running_; })) {
            return false;
        }
    }
    thread_.join();
    stopRequested_.store(false, std::memory_order_release);
    stopEvent_.Reset();
    return true;
}

bool JThread::IsRunning() const {
    if (tCurrentThread == this) {
        return true;
    }
    if (!thread_.joinable()) {
        return false;
    }
    std::lock_guard lock(stateMutex_);
    return running_;
}

void JThread::RequestStop() {
    stopRequested_.store(true, std::memory_order_release);
    stopEvent_.Set();
}

std::uint32_t JThread::Wait(std::uint32_t count, JEvent* const* events, std::uint32_t timeoutMs) {
    if (count > kMaxWaitEvents || (count > 0 && events == nullptr) || !stopEvent_.IsValid()) {
        return kWaitFailed;
    }
    std::array<pollfd, kMaxWaitEvents + 1> fds{};
    for (std::uint32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr || !events[i]->IsValid()) {
            return kWaitFailed;
        }
        fds[i] = pollfd{events[i]->Descriptor(), POLLIN, 0};
    }
    fds[count] = pollfd{stopEvent_.Descriptor(), POLLIN, 0};

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int pollTimeout = -1;
        if (timeoutMs != kInfinite) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollTimeout = left.count() <= 0
                              ? 0
                              : static_cast<int>(std::min<long long>(left.count(), INT_MAX));
        }
        const int ready = poll(fds.data(), count + 1, pollTimeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kWaitFailed;
        }
        if (ready == 0) {
            if (pollTimeout == 0 || Clock::now() >= deadline) {
                return kWaitTimeout;
            }
            continue;
        }
        for (std::uint32_t i = 0; i <= count; ++i) {
            if ((fds[i].revents & (POLLERR | POLLNVAL)) != 0) {
                return kWaitFailed;
            }
            if ((fds[i].revents & POLLIN) == 0) {
                continue;
            }
            if (i == count) {
                return kWaitStopped;
            }
            // Another waiter may have taken an auto-reset signal first.
            if (events[i]->TryAcquire()) {
                return i;
            }
        }
    }
}

bool JThread::SetPriority(int priority) {
    int nice = 0;
    if (!NiceForPriority(priority, nice) || (tCurrentThread != this && !thread_.joinable())) {
        return false;
    }
    std::unique_lock lock(stateMutex_);
    // The new thread publishes its id first thing; wait for it.
    ended_.wait(lock, [this] { return tid_ != 0 || !running_; });
    if (!running_) {
        return false;
    }
    // On Linux the nice value belongs to the thread named by its id.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), nice) == 0;
}

JThread* JThread::Current() {
    return tCurrentThread;
}

JFunctionThread::~JFunctionThread() {
    RequestStop();
    Join(kInfinite);
}

}  // namespace morix
