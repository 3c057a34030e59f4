// Restartable thread objects with a cooperative stop signal.
//
// A JThread runs Run() on a thread of its own. The object can be started again
// once that thread has ended, and its destructor always asks the thread to
// stop and waits for it. Code running on such a thread watches the stop signal
// through Wait() or StopRequested() and returns when asked.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "thread/event.h"

namespace morix {

class IRunnable {
  public:
    virtual void Run() = 0;
    virtual ~IRunnable() = default;
};

class JThread : public IRunnable {
  public:
    // Results of Wait besides the index of the signalled event.
    static constexpr std::uint32_t kWaitStopped = 64;
    static constexpr std::uint32_t kWaitTimeout = 258;
    static constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
    // The stop event takes the last of the 64 places of one wait.
    static constexpr std::uint32_t kMaxWaitEvents = 63;
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    // Thread priorities; each maps to a nice value of the thread (idle 19,
    // lowest 10, below normal 5, normal 0, above normal -5, highest -10,
    // time critical -20). Raising a priority above normal needs the
    // privilege to do so (CAP_SYS_NICE); without it SetPriority fails.
    static constexpr int kPriorityIdle = -15;
    static constexpr int kPriorityLowest = -2;
    static constexpr int kPriorityBelowNormal = -1;
    static constexpr int kPriorityNormal = 0;
    static constexpr int kPriorityAboveNormal = 1;
    static constexpr int kPriorityHighest = 2;
    static constexpr int kPriorityTimeCritical = 15;

    JThread() = default;
    // target is not owned; when set, the default Run calls target->Run().
    explicit JThread(IRunnable* target) : target_(target) {}
    // Requests a stop and waits for the thread to end. A subclass whose Run
    // uses its own members must do the same in its own destructor, before
    // those members go away.
    ~JThread() override;
    JThread(const JThread&) = delete;
    JThread& operator=(const JThread&) = delete;

    void Run() override;

    // Starts a new thread running Run(). False when the previous thread is
    // still running (nothing changes) or when the thread cannot be created.
    // A thread that has ended but was not joined is joined first.
    bool Start();

    // Waits up to timeoutMs (kInfinite: no limit) for the thread to end. True
    // when there is no thread or it has ended; the object is then idle again
    // with the stop signal cleared. False on time-out and when called on the
    // object's own thread, which can never see itself end.
    bool Join(std::uint32_t timeoutMs = kInfinite);

    bool IsRunning() const;

    // Sets the stop flag and signals the stop event; does not wait.
    void RequestStop();
    bool StopRequested() const { return stopRequested_.load(std::memory_order_acquire); }

    // Waits until one of events[0 .. count-1] or the stop event is signalled.
    // Returns the lowest index of a signalled event, kWaitStopped for the stop
    // event, kWaitTimeout after timeoutMs, kWaitFailed when count exceeds
    // kMaxWaitEvents, an event is missing or invalid, or the wait itself fails.
    std::uint32_t Wait(std::uint32_t count, JEvent* const* events, std::uint32_t timeoutMs);

    // Changes the priority of the running thread. False without a thread,
    // after it has ended, for a value not listed above and when the system
    // refuses.
    bool SetPriority(int priority);

    // The thread object whose thread is calling; null on a thread the
    // library did not start.
    static JThread* Current();

  private:
    void Entry();

    IRunnable* target_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    JEvent stopEvent_{JEvent::Mode::kManualReset};

    // Guards running_ and tid_, and tells Join that Run has returned.
    mutable std::mutex stateMutex_;
    std::condition_variable ended_;
    bool running_ = false;
    pid_t tid_ = 0;
};

// A thread that runs a function object. Running an empty one throws
// std::bad_function_call, as calling it directly would.
class JFunctionThread : public JThread {
  public:
    explicit JFunctionThread(std::function<void()> function) : function_(std::move(function)) {}
    // Stops and joins before the function object is destroyed.
    ~JFunctionThread() override;

    void Run() override { function_(); }

  private:
    std::function<void()> function_;
};

}  // namespace morix
