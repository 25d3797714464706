// Mutexes, events, signals, scoped locks and wait sets, each exercised from several threads.
#include "foundation/event.h"
#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/mutex.h"
#include "foundation/signal.h"
#include "foundation/thread.h"
#include "foundation/thread_id.h"
#include "foundation/wait_handle.h"
#include "foundation/wait_set.h"
#include "tests/support/catalogues.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs `body` on a plain std::thread and waits for it.
template <class F>
void OnOtherThread(F body) {
    std::thread thread(body);
    thread.join();
}

// A body that takes the mutex `levels` times and ends without giving it back.
class AbandoningBody : public CRunnable {
public:
    AbandoningBody(CMutex& mutex, int levels) : m_mutex(mutex), m_levels(levels) {}
    void Run() override {
        for (int i = 0; i < m_levels; ++i)
            m_mutex.Lock(-1);
    }

private:
    CMutex& m_mutex;
    int m_levels;
};

void AbandonOnCThread(CMutex& mutex, int levels) {
    AbandoningBody body(mutex, levels);
    CThreadRef thread = CThread::Create(body);
    ASSERT_TRUE(thread->Join(5));
}

// A mutex whose unlocks are counted, to see what a signal's wait does with it.
class CountingMutex : public CMutex {
public:
    void Unlock() override {
        ++unlocks;
        CMutex::Unlock();
    }
    std::atomic<int> unlocks{0};
};

} // namespace

TEST(ThreadTimeout, SecondsBecomeTruncatedMilliseconds) {
    struct Row {
        double seconds;
        int64_t ms;
    } rows[] = {
        {0, 0},            // one attempt
        {0.0009, 0},       // below a millisecond is one attempt, not a wait
        {0.0015, 1},       // truncated, not rounded
        {2.5, 2500},       //
        {-1, -1},          // negative waits for ever
        {-0.0001, -1},     // however small
        {1e300, -1},       // too long to count is for ever, without overflow
        {std::nan(""), 0}, // NaN is one attempt, never undefined behaviour
    };
    for (const Row& row : rows)
        EXPECT_EQ(CWaitHandle::ToMilliseconds(row.seconds), row.ms) << row.seconds;
}

TEST(ThreadMutex, RecursiveLockNeedsAsManyUnlocks) {
    CMutex mutex;
    EXPECT_EQ(mutex.GetOwner(), 0u);
    ASSERT_TRUE(mutex.Lock(0));
    ASSERT_TRUE(mutex.Lock(0));
    EXPECT_EQ(mutex.GetOwner(), GetCurrentThreadIdentity());
    EXPECT_EQ(mutex.GetCount(), 2u);

    bool otherGotIt = true;
    OnOtherThread([&] { otherGotIt = mutex.Lock(0); });
    EXPECT_FALSE(otherGotIt);

    mutex.Unlock();
    EXPECT_EQ(mutex.GetOwner(), GetCurrentThreadIdentity());
    EXPECT_EQ(mutex.GetCount(), 1u);
    OnOtherThread([&] { otherGotIt = mutex.Lock(0); });
    EXPECT_FALSE(otherGotIt) << "one unlock of two must keep the mutex";

    mutex.Unlock();
    EXPECT_EQ(mutex.GetOwner(), 0u);
    EXPECT_EQ(mutex.GetCount(), 0u);
    mutex.Unlock(); // one too many: ignored, the count never goes below 0
    EXPECT_EQ(mutex.GetCount(), 0u);
    OnOtherThread([&] {
        otherGotIt = mutex.Lock(0);
        mutex.Unlock();
    });
    EXPECT_TRUE(otherGotIt);
}

TEST(ThreadMutex, UnlockByAnotherThreadDoesNothing) {
    CMutex mutex;
    ASSERT_TRUE(mutex.Lock(0));
    OnOtherThread([&] { mutex.Unlock(); });
    EXPECT_EQ(mutex.GetOwner(), GetCurrentThreadIdentity());
    EXPECT_EQ(mutex.GetCount(), 1u);
    mutex.Unlock();
}

TEST(ThreadMutex, TimedLockGivesUpAfterTheTimeout) {
    CMutex mutex;
    ASSERT_TRUE(mutex.Lock(0));
    bool got = true;
    double waited = 0;
    OnOtherThread([&] {
        auto start = Clock::now();
        got = mutex.Lock(0.05);
        waited = SecondsSince(start);
    });
    EXPECT_FALSE(got);
    EXPECT_GE(waited, 0.045);
    mutex.Unlock();
}

TEST(ThreadMutex, WaiterIsWokenWhenTheOwnerUnlocks) {
    CMutex mutex;
    CEvent waiting;
    ASSERT_TRUE(mutex.Lock(0));
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        waiting.Set();
        got = mutex.Lock(-1);
        mutex.Unlock();
    });
    ASSERT_TRUE(waiting.Lock(5));
    mutex.Unlock();
    waiter.join();
    EXPECT_TRUE(got);
}

TEST(ThreadMutex, ExcludesOtherThreads) {
    CMutex mutex;
    int counter = 0; // deliberately not atomic: the mutex alone must protect it
    constexpr int kThreads = 4, kRounds = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                CLock outer(mutex);
                CLock inner(mutex); // recursion inside the guarded region
                ++counter;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, kThreads * kRounds);
}

class ThreadAbandonedMutex : public CataloguesInstalled {};

TEST_F(ThreadAbandonedMutex, CopiesOfTheExceptionUnlockOnce) {
    CMutex mutex;
    AbandonOnCThread(mutex, 2);
    EXPECT_EQ(mutex.GetOwner(), 0u) << "an ended owner frees the mutex";

    std::optional<CMutexAbandonedException> kept;
    try {
        mutex.Lock(-1);
        FAIL() << "an abandoned mutex must raise";
    } catch (const CMutexAbandonedException& e) {
        EXPECT_STREQ(e.GetCode(), "EMUTEXABDN");
        EXPECT_EQ(e.GetText(), "Internal error: mutex was abandoned");
        std::vector<CMutexAbandonedException> copies(3, e);
        CMutexAbandonedException assigned = copies[0];
        assigned = copies[1];
        kept.emplace(assigned);
        EXPECT_EQ(mutex.GetOwner(), GetCurrentThreadIdentity());
        EXPECT_EQ(mutex.GetCount(), 1u) << "the new owner holds one level, not the old owner's two";
    }
    // Every copy but `kept` is gone: the mutex is still held.
    EXPECT_EQ(mutex.GetOwner(), GetCurrentThreadIdentity());
    EXPECT_EQ(mutex.GetCount(), 1u);
    kept.reset();
    EXPECT_EQ(mutex.GetOwner(), 0u);
    EXPECT_EQ(mutex.GetCount(), 0u);

    // Taken again by this thread and held: a second release by a stray copy would free it.
    ASSERT_TRUE(mutex.Lock(0));
    bool otherGotIt = true;
    OnOtherThread([&] { otherGotIt = mutex.Lock(0); });
    EXPECT_FALSE(otherGotIt);
    mutex.Unlock();
    OnOtherThread([&] {
        otherGotIt = mutex.Lock(0); // abandonment is reported once only
        mutex.Unlock();
    });
    EXPECT_TRUE(otherGotIt);
}

TEST_F(ThreadAbandonedMutex, ForeignThreadEndingWhileHoldingIsDetected) {
    CMutex mutex;
    OnOtherThread([&] { mutex.Lock(-1); });
    EXPECT_THROW(mutex.Lock(0), CMutexAbandonedException);
    EXPECT_EQ(mutex.GetOwner(), 0u) << "the temporary exception gave the mutex back";
}

TEST_F(ThreadAbandonedMutex, ScopedLockPassesTheExceptionOn) {
    CMutex mutex;
    AbandonOnCThread(mutex, 1);
    EXPECT_THROW(CLock lock(mutex, 0), CMutexAbandonedException);
    EXPECT_EQ(mutex.GetOwner(), 0u);
}

TEST_F(ThreadAbandonedMutex, WaitSetReleasesWhatItTookAndRaises) {
    CMutex free, abandoned;
    CEvent set(true);
    AbandonOnCThread(abandoned, 1);
    CWaitSet wait{&free, &set, &abandoned};
    try {
        wait.Wait(0);
        FAIL() << "an abandoned member must raise";
    } catch (const CMutexAbandonedException&) {
        EXPECT_EQ(free.GetOwner(), 0u) << "the member taken before must be released";
        EXPECT_EQ(abandoned.GetOwner(), GetCurrentThreadIdentity());
    }
    EXPECT_EQ(abandoned.GetOwner(), 0u);
}

class ThreadScopedLock : public CataloguesInstalled {};

TEST_F(ThreadScopedLock, ZeroTimeoutOnAHeldMutexRaisesTimedOut) {
    CMutex mutex;
    ASSERT_TRUE(mutex.Lock(0));
    std::optional<CTimeoutException> raised;
    OnOtherThread([&] {
        try {
            CLock lock(mutex, 0);
        } catch (const CTimeoutException& e) {
            raised = e;
        }
    });
    ASSERT_TRUE(raised.has_value());
    EXPECT_STREQ(raised->GetCode(), "ETIME");
    EXPECT_EQ(raised->GetText(), "Timed out");
    mutex.Unlock();
    {
        CLock lock(mutex, 0);
        EXPECT_EQ(mutex.GetCount(), 1u);
    }
    EXPECT_EQ(mutex.GetOwner(), 0u) << "the destructor unlocks";
}

TEST(ThreadEvent, SetReleasesEveryWaiterUntilReset) {
    CEvent event;
    EXPECT_FALSE(event.Lock(0));
    constexpr int kWaiters = 3;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] { released += event.Lock(-1) ? 1 : 0; });
    event.Set();
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(released, kWaiters) << "a manual-reset event releases every waiter";
    EXPECT_TRUE(event.Lock(0)) << "and stays set";
    event.Reset();
    EXPECT_FALSE(event.Lock(0));
    EXPECT_TRUE(CEvent(true).Lock(0));
}

TEST(ThreadEvent, TimedWaitReturnsFalseAfterTheTimeout) {
    CEvent event;
    auto start = Clock::now();
    EXPECT_FALSE(event.Lock(0.03));
    EXPECT_GE(SecondsSince(start), 0.025);
}

TEST(ThreadSignal, ZeroTimeoutOnASetSignalKeepsTheMutex) {
    CountingMutex mutex;
    CSignal signal(mutex);
    CLock lock(mutex);
    signal.Set();
    EXPECT_TRUE(signal.Lock(0));
    EXPECT_EQ(mutex.unlocks, 0);
    EXPECT_EQ(mutex.GetCount(), 1u);
}

TEST(ThreadSignal, ZeroTimeoutOnAnUnsetSignalFailsAtOnceWithTheMutexHeld) {
    CountingMutex mutex;
    CSignal signal(mutex);
    CLock lock(mutex);
    EXPECT_FALSE(signal.Lock(0));
    EXPECT_LE(mutex.unlocks, 1) << "at most one wait of 0 ms";
    EXPECT_EQ(mutex.GetOwner(), GetCurrentThreadIdentity());
    EXPECT_EQ(mutex.GetCount(), 1u);
}

TEST(ThreadSignal, TimedWaitReturnsWithTheMutexRetaken) {
    CMutex mutex;
    CSignal signal(mutex);
    CLock lock(mutex);
    auto start = Clock::now();
    EXPECT_FALSE(signal.Lock(0.05));
    EXPECT_GE(SecondsSince(start), 0.045);
    EXPECT_EQ(mutex.GetOwner(), GetCurrentThreadIdentity());
}

// The waiter holds the mutex (twice, to show every level is given up) while it waits; the setter must
// get the mutex to change the condition. Any leak of ownership deadlocks, any lost wake-up hangs.
TEST(ThreadSignal, WaitWithTheMutexHeldLetsTheSetterIn) {
    CMutex mutex;
    CSignal produced(mutex), consumed(mutex);
    bool ready = false; // guarded by mutex
    constexpr int kRounds = 200;
    int seen = 0;
    std::thread setter([&] {
        for (int i = 0; i < kRounds; ++i) {
            CLock lock(mutex);
            while (ready) {
                if (!consumed.Lock(5)) {
                    ADD_FAILURE() << "the consumer never took the value";
                    return;
                }
            }
            consumed.Reset();
            ready = true;
            produced.Set();
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        CLock outer(mutex);
        CLock inner(mutex);
        while (!ready)
            ASSERT_TRUE(produced.Lock(5));
        EXPECT_EQ(mutex.GetCount(), 2u) << "every level is retaken";
        ready = false;
        produced.Reset();
        consumed.Set();
        ++seen;
    }
    setter.join();
    EXPECT_EQ(seen, kRounds);
}

TEST(ThreadWaitSet, CollectsEveryMemberSignalledAtThatMoment) {
    CEvent a(true), b, c(true);
    CMutex freeMutex, heldMutex;
    CEvent holderReady, holderRelease;
    std::thread holder([&] {
        heldMutex.Lock(-1);
        holderReady.Set();
        holderRelease.Lock(-1);
        heldMutex.Unlock();
    });
    ASSERT_TRUE(holderReady.Lock(5));

    CWaitSet wait{&a, &b, &c, &freeMutex, &heldMutex};
    ASSERT_TRUE(wait.Wait(0));
    EXPECT_TRUE(wait.WasSignalled(&a));
    EXPECT_FALSE(wait.WasSignalled(&b));
    EXPECT_TRUE(wait.WasSignalled(&c));
    EXPECT_TRUE(wait.WasSignalled(&freeMutex)) << "a free mutex is signalled and now ours";
    EXPECT_EQ(freeMutex.GetOwner(), GetCurrentThreadIdentity());
    EXPECT_FALSE(wait.WasSignalled(&heldMutex)) << "a mutex another thread holds is not";
    freeMutex.Unlock();

    a.Reset();
    c.Reset();
    ASSERT_TRUE(wait.Wait(0)) << "the free mutex alone";
    EXPECT_FALSE(wait.WasSignalled(&a)) << "flags are cleared by every wait";
    freeMutex.Unlock();
    holderRelease.Set();
    holder.join();
}

TEST(ThreadWaitSet, WakesForAMemberSetWhileWaiting) {
    CEvent first, second, waiting;
    CWaitSet wait{&first, &second};
    std::thread setter([&] {
        waiting.Lock(-1);
        second.Set();
    });
    waiting.Set();
    ASSERT_TRUE(wait.Wait(5));
    EXPECT_FALSE(wait.WasSignalled(&first));
    EXPECT_TRUE(wait.WasSignalled(&second));
    setter.join();
}

// Many rounds of two members set from two threads at once: every round must end with both reported,
// in one wait or two, and never hang.
TEST(ThreadWaitSet, MembersSetConcurrentlyAreAllReported) {
    constexpr int kRounds = 200;
    for (int round = 0; round < kRounds; ++round) {
        CEvent x, y;
        CWaitSet wait{&x, &y};
        std::thread sx([&] { x.Set(); });
        std::thread sy([&] { y.Set(); });
        bool sawX = false, sawY = false;
        while (!(sawX && sawY)) {
            ASSERT_TRUE(wait.Wait(5));
            sawX = sawX || wait.WasSignalled(&x);
            sawY = sawY || wait.WasSignalled(&y);
        }
        sx.join();
        sy.join();
    }
}

TEST(ThreadWaitSet, TimesOutWhenNothingIsSignalled) {
    CEvent a, b;
    CWaitSet wait{&a, &b};
    auto start = Clock::now();
    EXPECT_FALSE(wait.Wait(0.03));
    EXPECT_GE(SecondsSince(start), 0.025);
    EXPECT_FALSE(wait.WasSignalled(&a));
    EXPECT_FALSE(CWaitSet().Wait(-1)) << "an empty set returns at once";
}

TEST(ThreadWaitSet, TakesAtMostSixtyFourMembersAndNoNulls) {
    std::vector<std::unique_ptr<CEvent>> events;
    CWaitSet wait{nullptr};
    for (int i = 0; i < 65; ++i) {
        events.push_back(std::make_unique<CEvent>(true));
        wait.Add(events.back().get());
    }
    wait.Add(events[0].get()); // already present
    EXPECT_EQ(wait.GetCount(), CWaitSet::kMaxMembers);
    ASSERT_TRUE(wait.Wait(0));
    EXPECT_TRUE(wait.WasSignalled(events[63].get()));
    EXPECT_FALSE(wait.WasSignalled(events[64].get())) << "the 65th was never added";
    wait.Remove(events[0].get());
    EXPECT_EQ(wait.GetCount(), 63u);
}

TEST(ThreadWaitSet, CallsTheHooksAroundTheWait) {
    struct Recorder : CEvent {
        std::vector<std::string> calls;
        void BeforeWait() override { calls.push_back("before"); }
        void AfterWait(bool signalled) override { calls.push_back(signalled ? "after:1" : "after:0"); }
    } quiet, loud;
    loud.Set();
    CWaitSet wait{&quiet, &loud};
    ASSERT_TRUE(wait.Wait(0));
    EXPECT_EQ(quiet.calls, (std::vector<std::string>{"before", "after:0"}));
    EXPECT_EQ(loud.calls, (std::vector<std::string>{"before", "after:1"}));
}
