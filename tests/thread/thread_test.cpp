#include "thread/thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "thread/lockable.h"

namespace morix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs until asked to stop, counting its runs.
class StoppableThread : public JThread {
  public:
    ~StoppableThread() override {
        RequestStop();
        Join();
    }
    void Run() override {
        runs.fetch_add(1);
        lastWait = Wait(0, nullptr, kInfinite);
    }
    std::atomic<int> runs{0};
    std::atomic<std::uint32_t> lastWait{0};
};

TEST(JThreadLifecycle, StartTwiceWhileRunningKeepsTheFirstThread) {
    StoppableThread t;
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.Start());
    EXPECT_TRUE(t.IsRunning());
    EXPECT_FALSE(t.Join(0));
    t.RequestStop();
    EXPECT_TRUE(t.Join());
    EXPECT_EQ(t.runs.load(), 1);
    EXPECT_EQ(t.lastWait.load(), JThread::kWaitStopped);
    EXPECT_FALSE(t.IsRunning());
}

TEST(JThreadLifecycle, RestartsAfterEndingWithoutJoin) {
    std::atomic<int> runs{0};
    JFunctionThread t([&] { runs.fetch_add(1); });
    ASSERT_TRUE(t.Start());
    while (t.IsRunning()) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(t.Join());
    EXPECT_EQ(runs.load(), 2);
    // And again after a proper join.
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(t.Join());
    EXPECT_EQ(runs.load(), 3);
}

TEST(JThreadLifecycle, JoinOfNeverStartedAndOfRunningThread) {
    StoppableThread idle;
    EXPECT_TRUE(idle.Join(0));
    EXPECT_TRUE(idle.Join());
    EXPECT_FALSE(idle.IsRunning());

    StoppableThread busy;
    ASSERT_TRUE(busy.Start());
    const auto before = Clock::now();
    EXPECT_FALSE(busy.Join(0));
    EXPECT_FALSE(busy.Join(30));
    EXPECT_LT(Clock::now() - before, 2s);  // returned rather than waiting for the thread
    EXPECT_TRUE(busy.IsRunning());
}

TEST(JThreadLifecycle, JoinClearsTheStopSignalForTheNextRun) {
    StoppableThread t;
    ASSERT_TRUE(t.Start());
    t.RequestStop();
    EXPECT_TRUE(t.StopRequested());
    ASSERT_TRUE(t.Join());
    EXPECT_FALSE(t.StopRequested());
    // A restarted thread must block again instead of seeing the old signal.
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.Join(50));
    EXPECT_TRUE(t.IsRunning());
}

TEST(JThreadLifecycle, StartClearsAStopRequestedBeforehand) {
    StoppableThread t;
    t.RequestStop();
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.StopRequested());
    EXPECT_FALSE(t.Join(50));
}

TEST(JThreadLifecycle, DestructorStopsAWaitingThread) {
    std::atomic<std::uint32_t> result{0};
    JEvent never(JEvent::Mode::kManualReset);
    {
        auto t = std::make_unique<JFunctionThread>([&] {
            JEvent* events[] = {&never};
            result = JThread::Current()->Wait(1, events, JThread::kInfinite);
        });
        ASSERT_TRUE(t->Start());
        std::this_thread::sleep_for(20ms);
    }  // destroyed here: must wake the wait and join
    EXPECT_EQ(result.load(), JThread::kWaitStopped);
}

TEST(JThreadLifecycle, DestroyingAFinishedFunctionThreadDoesNotBlock) {
    std::atomic<bool> ran{false};
    const auto before = Clock::now();
    {
        JFunctionThread t([&] { ran = true; });
        ASSERT_TRUE(t.Start());
        while (t.IsRunning()) {
            std::this_thread::sleep_for(1ms);
        }
    }
    EXPECT_TRUE(ran.load());
    EXPECT_LT(Clock::now() - before, 2s);
}

TEST(JThreadLifecycle, RunCallsTheTargetOrNothing) {
    struct Counter : IRunnable {
        void Run() override { ++count; }
        int count = 0;
    } counter;
    JThread withTarget(&counter);
    ASSERT_TRUE(withTarget.Start());
    ASSERT_TRUE(withTarget.Join());
    EXPECT_EQ(counter.count, 1);

    JThread plain;
    ASSERT_TRUE(plain.Start());
    EXPECT_TRUE(plain.Join());
}

TEST(JThreadLifecycle, EmptyFunctionThrowsBadFunctionCall) {
    JFunctionThread t{std::function<void()>()};
    EXPECT_THROW(t.Run(), std::bad_function_call);
}

TEST(JThreadCurrent, KnowsItsOwnThreadOnly) {
    EXPECT_EQ(JThread::Current(), nullptr);
    JThread* seen = reinterpret_cast<JThread*>(1);
    JFunctionThread t([&] { seen = JThread::Current(); });
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(t.Join());
    EXPECT_EQ(seen, &t);

    JThread* fromForeign = reinterpret_cast<JThread*>(1);
    std::thread([&] { fromForeign = JThread::Current(); }).join();
    EXPECT_EQ(fromForeign, nullptr);
}

TEST(JThreadCurrent, JoinFromItsOwnThreadFailsInsteadOfHanging) {
    std::atomic<int> joined{-1};
    JFunctionThread t([&] { joined = JThread::Current()->Join(JThread::kInfinite) ? 1 : 0; });
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(t.Join());
    EXPECT_EQ(joined.load(), 0);
}

// Wait runs on the calling thread; any thread object provides the stop event.
TEST(JThreadWait, ReturnsTheLowestSignalledIndex) {
    JThread owner;
    JEvent a(JEvent::Mode::kManualReset), b(JEvent::Mode::kManualReset),
        c(JEvent::Mode::kManualReset);
    JEvent* events[] = {&a, &b, &c};
    b.Set();
    EXPECT_EQ(owner.Wait(3, events, 0), 1u);
    c.Set();
    EXPECT_EQ(owner.Wait(3, events, 0), 1u);  // manual reset: b still signalled
    b.Reset();
    EXPECT_EQ(owner.Wait(3, events, 0), 2u);
    a.Set();
    owner.RequestStop();
    EXPECT_EQ(owner.Wait(3, events, 0), 0u);  // an event wins over the stop signal
    a.Reset();
    c.Reset();
    EXPECT_EQ(owner.Wait(3, events, 0), JThread::kWaitStopped);
}

TEST(JThreadWait, TimesOutAfterTheGivenTime) {
    JThread owner;
    JEvent a(JEvent::Mode::kManualReset);
    JEvent* events[] = {&a};
    EXPECT_EQ(owner.Wait(1, events, 0), JThread::kWaitTimeout);
    const auto before = Clock::now();
    EXPECT_EQ(owner.Wait(1, events, 60), JThread::kWaitTimeout);
    EXPECT_GE(Clock::now() - before, 55ms);
    EXPECT_EQ(owner.Wait(0, nullptr, 10), JThread::kWaitTimeout);
}

TEST(JThreadWait, FailsForBadArguments) {
    JThread owner;
    JEvent a(JEvent::Mode::kManualReset, true);
    std::vector<JEvent*> many(JThread::kMaxWaitEvents + 1, &a);
    EXPECT_EQ(owner.Wait(JThread::kMaxWaitEvents + 1, many.data(), 0), JThread::kWaitFailed);
    EXPECT_EQ(owner.Wait(JThread::kMaxWaitEvents, many.data(), 0), 0u);
    EXPECT_EQ(owner.Wait(1, nullptr, 0), JThread::kWaitFailed);
    JEvent* withNull[] = {&a, nullptr};
    EXPECT_EQ(owner.Wait(2, withNull, 0), JThread::kWaitFailed);
}

TEST(JThreadWait, WakesWhenAnotherThreadSignals) {
    JEvent ready(JEvent::Mode::kAutoReset);
    std::atomic<std::uint32_t> result{99};
    JFunctionThread t([&] {
        JEvent* events[] = {&ready};
        result = JThread::Current()->Wait(1, events, 10000);
    });
    ASSERT_TRUE(t.Start());
    std::this_thread::sleep_for(10ms);
    ready.Set();
    ASSERT_TRUE(t.Join(10000));
    EXPECT_EQ(result.load(), 0u);
    // The auto-reset signal was consumed by that wait.
    EXPECT_FALSE(ready.TryAcquire());
}

TEST(JEventModes, AutoResetReleasesOneWaiterManualResetAll) {
    JEvent autoEvent(JEvent::Mode::kAutoReset);
    autoEvent.Set();
    autoEvent.Set();  // a second Set before anyone waited is still one signal
    EXPECT_TRUE(autoEvent.TryAcquire());
    EXPECT_FALSE(autoEvent.TryAcquire());

    JEvent manual(JEvent::Mode::kManualReset, true);
    EXPECT_TRUE(manual.TryAcquire());
    EXPECT_TRUE(manual.TryAcquire());
    manual.Reset();
    EXPECT_FALSE(manual.TryAcquire());

    // Two threads waiting on one auto-reset event: one signal wakes exactly one.
    JEvent gate(JEvent::Mode::kAutoReset);
    std::atomic<int> woken{0};
    auto body = [&] {
        JEvent* events[] = {&gate};
        if (JThread::Current()->Wait(1, events, JThread::kInfinite) == 0) {
            woken.fetch_add(1);
        }
    };
    JFunctionThread first(body), second(body);
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    std::this_thread::sleep_for(20ms);
    gate.Set();
    const auto deadline = Clock::now() + 10s;
    while (woken.load() == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(50ms);  // time for a wrong second wake-up
    EXPECT_EQ(woken.load(), 1);
    // The destructors stop the other waiter.
}

TEST(JThreadPriority, ChangesTheNiceValueOfTheThreadOnly) {
    StoppableThread idle;
    EXPECT_FALSE(idle.SetPriority(JThread::kPriorityLowest));

    const int ownNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    std::atomic<int> niceSeen{-100};
    JEvent go(JEvent::Mode::kManualReset);
    JFunctionThread t([&] {
        JEvent* events[] = {&go};
        if (JThread::Current()->Wait(1, events, 10000) == 0) {
            errno = 0;
            niceSeen = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        }
    });
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.SetPriority(7));  // not a priority
    ASSERT_TRUE(t.SetPriority(JThread::kPriorityLowest));
    go.Set();
    ASSERT_TRUE(t.Join());
    EXPECT_EQ(niceSeen.load(), 10);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), ownNice);
    EXPECT_FALSE(t.SetPriority(JThread::kPriorityNormal));  // joined: no thread
}

TEST(JCriticalSectionTest, IsRecursiveForItsOwnerAndExcludesOthers) {
    JCriticalSection lock;
    lock.Lock();
    lock.Lock();  // would deadlock if not recursive
    std::atomic<bool> otherGotIt{false};
    std::thread other([&] {
        JAutoLock hold(lock);
        otherGotIt = true;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(otherGotIt.load());
    lock.Unlock();
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(otherGotIt.load());  // still held once
    lock.Unlock();
    other.join();
    EXPECT_TRUE(otherGotIt.load());

    long counter = 0;
    auto add = [&] {
        for (int i = 0; i < 100000; ++i) {
            JAutoLock hold(lock);
            ++counter;
        }
    };
    std::thread x(add), y(add);
    x.join();
    y.join();
    EXPECT_EQ(counter, 200000);
}

}  // namespace
}  // namespace morix
