// CThread: start, registry, adoption, stop requests, join, exit codes, priorities and sleeps; what
// threads keep for themselves and give up when they end.
#include "foundation/event.h"
#include "foundation/exception.h"
#include "foundation/mutex.h"
#include "foundation/reg_exp.h"
#include "foundation/thread.h"
#include "foundation/thread_id.h"
#include "foundation/wait_set.h"
#include "platform/thread_exit.h"
#include "platform/thread_priority.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class FunctionBody : public CRunnable {
public:
    explicit FunctionBody(std::function<void()> body) : m_body(std::move(body)) {}
    void Run() override { m_body(); }

private:
    std::function<void()> m_body;
};

} // namespace

TEST(ThreadThread, RunsTheBodyWithItsOwnIdentityAndUserData) {
    int userData = 7;
    std::atomic<uint32_t> bodyId{0};
    std::atomic<bool> sawSelf{false}, sawData{false}, runningInside{false};
    CThread* started = nullptr;
    CEvent registered;
    FunctionBody body([&] {
        registered.Lock(-1);
        bodyId = GetCurrentThreadIdentity();
        CThreadRef self(GetCurrentThreadObject());
        sawSelf = self.Get() == started;
        runningInside = self && self->IsRunning();
        sawData = GetUserData() == &userData;
    });
    CThreadRef thread = CThread::Create(body, &userData);
    started = thread.Get();
    registered.Set();
    ASSERT_TRUE(thread->Join(5));
    EXPECT_EQ(bodyId, thread->GetId());
    EXPECT_NE(bodyId, GetCurrentThreadIdentity());
    EXPECT_TRUE(sawSelf) << "GetCurrentThreadObject finds the body's own object";
    EXPECT_TRUE(runningInside);
    EXPECT_TRUE(sawData);
    EXPECT_FALSE(thread->IsRunning());
    EXPECT_EQ(thread->GetExitCode(), 0u);
}

TEST(ThreadThread, ExitCodeComesFromThreadExit) {
    FunctionBody body([] {
        ExitCurrentThread(0xDEADBEEF);
        ADD_FAILURE() << "not reached";
    });
    CThreadRef thread = CThread::Create(body);
    ASSERT_TRUE(thread->Join(5));
    EXPECT_EQ(thread->GetExitCode(), 0xDEADBEEFu);
}

TEST(ThreadThread, ExceptionsLeavingTheBodyEndOnlyTheThread) {
    FunctionBody throwsOurs([] { throw CTimeoutException(); });
    FunctionBody throwsOther([] { throw std::runtime_error("x"); });
    CThreadRef a = CThread::Create(throwsOurs);
    CThreadRef b = CThread::Create(throwsOther);
    EXPECT_TRUE(a->Join(5));
    EXPECT_TRUE(b->Join(5));
    EXPECT_EQ(a->GetExitCode(), 0u);
}

TEST(ThreadThread, JoinOnItselfReturnsFalseAtOnce) {
    std::atomic<bool> joined{true};
    std::atomic<double> took{10};
    FunctionBody body([&] {
        CThreadRef self(GetCurrentThreadObject());
        auto start = Clock::now();
        joined = self->Join(-1);
        took = SecondsSince(start);
    });
    CThreadRef thread = CThread::Create(body);
    ASSERT_TRUE(thread->Join(5));
    EXPECT_FALSE(joined);
    EXPECT_LT(took, 1.0);
}

TEST(ThreadThread, JoinTimesOutWhileTheBodyRuns) {
    FunctionBody body([] { GetStopEvent()->Lock(-1); });
    CThreadRef thread = CThread::Create(body);
    EXPECT_FALSE(thread->Join(0));
    EXPECT_FALSE(thread->Join(0.02));
    EXPECT_TRUE(thread->IsRunning());
    thread->RequestStop();
    EXPECT_TRUE(thread->Join(5));
}

// The body waits far longer than the test allows, with its stop event in the wait set: only the stop
// event can end it in time.
TEST(ThreadThread, StopRequestEndsAWaitOnTheStopEvent) {
    CEvent never, waiting;
    std::atomic<bool> woke{false};
    FunctionBody body([&] {
        CWaitSet wait{GetStopEvent(), &never};
        waiting.Set();
        do {
            wait.Wait(60);
        } while (!IsStopRequested());
        woke = wait.WasSignalled(GetStopEvent());
    });
    CThreadRef thread = CThread::Create(body);
    ASSERT_TRUE(waiting.Lock(5));
    EXPECT_FALSE(thread->IsStopRequested());
    thread->RequestStop();
    EXPECT_TRUE(thread->IsStopRequested());
    EXPECT_TRUE(thread->Join(5));
    EXPECT_TRUE(woke);
}

// A polling body with a one-second bound per round sees the request in its next round: asked while
// in its first round, it does not start a second one.
TEST(ThreadThread, StopRequestIsSeenByAPollingBody) {
    std::atomic<int> rounds{0};
    CEvent inFirstRound;
    FunctionBody body([&] {
        while (!IsStopRequested()) {
            ++rounds;
            inFirstRound.Set();
            GetStopEvent()->Lock(1.0);
        }
    });
    CThreadRef thread = CThread::Create(body);
    ASSERT_TRUE(inFirstRound.Lock(5));
    thread->RequestStop();
    EXPECT_TRUE(thread->Join(2.5));
    EXPECT_EQ(rounds, 1);
}

// Asked before its body starts, a polling body runs no round at all.
TEST(ThreadThread, StopRequestBeforeTheBodyStartsSkipsEveryRound) {
    std::atomic<int> rounds{0};
    CEvent go;
    FunctionBody body([&] {
        go.Lock(-1);
        while (!IsStopRequested()) {
            ++rounds;
            GetStopEvent()->Lock(1.0);
        }
    });
    CThreadRef thread = CThread::Create(body);
    thread->RequestStop();
    go.Set();
    EXPECT_TRUE(thread->Join(5));
    EXPECT_EQ(rounds, 0);
}

TEST(ThreadThread, WaitSetSeesAThreadFinish) {
    CEvent go;
    FunctionBody body([&] { go.Lock(-1); });
    CThreadRef thread = CThread::Create(body);
    CWaitSet wait{thread.Get()};
    EXPECT_FALSE(wait.Wait(0));
    go.Set();
    EXPECT_TRUE(wait.Wait(5));
    EXPECT_TRUE(wait.WasSignalled(thread.Get()));
}

TEST(ThreadThread, UnregisteredThreadHasNoObjectUntilItStartsOne) {
    std::atomic<bool> nullBefore{false}, stopBefore{true}, adoptedAfter{false};
    CThreadRef adopted;
    std::thread foreign([&] {
        CThreadRef none = GetCurrentThreadObject();
        nullBefore = !none && GetStopEvent() == nullptr && GetUserData() == nullptr;
        stopBefore = IsStopRequested();
        FunctionBody child([] {});
        CThreadRef started = CThread::Create(child);
        started->Join(5);
        adopted = GetCurrentThreadObject(); // kept beyond this thread's end
        adoptedAfter = adopted && adopted->GetId() == GetCurrentThreadIdentity() && adopted->IsRunning() &&
                       GetStopEvent() == &adopted->GetStopEvent();
    });
    foreign.join();
    EXPECT_TRUE(nullBefore);
    EXPECT_FALSE(stopBefore);
    ASSERT_TRUE(adoptedAfter) << "the creator of a thread is adopted";
    EXPECT_FALSE(adopted->IsRunning()) << "an adopted thread is finished when it ends";
    EXPECT_TRUE(adopted->Join(0));
}

TEST(ThreadThread, AdoptedThreadEndingWhileHoldingAMutexIsFinishedAndTheMutexAbandoned) {
    CMutex mutex;
    CThreadRef adopted;
    std::thread foreign([&] {
        FunctionBody child([] {});
        CThreadRef started = CThread::Create(child);
        started->Join(5);
        adopted = GetCurrentThreadObject();
        mutex.Lock(-1);
    });
    foreign.join();
    ASSERT_TRUE(adopted);
    EXPECT_FALSE(adopted->IsRunning());
    EXPECT_EQ(mutex.GetOwner(), 0u) << "the ended thread's mutex is free";
    EXPECT_THROW(mutex.Lock(0), CMutexAbandonedException);
}

// Threads created, joined and released from several threads at once, some dropping their last
// reference before the body ends (the body then deletes its own object), churn the registry.
TEST(ThreadThread, RegistrySurvivesConcurrentStartsAndReleases) {
    constexpr int kCreators = 4, kEach = 15;
    // Bodies that are not joined may still be returning when the test ends, so what they touch lives
    // for the whole process.
    static std::mutex lock;
    static std::condition_variable changed;
    static int ran = 0; // guarded by lock
    static FunctionBody* body = new FunctionBody([] {
        CThreadRef self(GetCurrentThreadObject());
        if (!self)
            return;
        std::lock_guard guard(lock);
        ++ran;
        changed.notify_all();
    });
    {
        std::lock_guard guard(lock);
        ran = 0; // under --gtest_repeat
    }
    std::vector<std::thread> creators;
    for (int c = 0; c < kCreators; ++c) {
        creators.emplace_back([&, c] {
            for (int i = 0; i < kEach; ++i) {
                CThreadRef thread = CThread::Create(*body);
                if ((i + c) % 2 == 0)
                    thread->Join(5);
            }
        });
    }
    for (auto& creator : creators)
        creator.join();
    // The bodies that were not joined end on their own; wait for their count, not their objects.
    std::unique_lock guard(lock);
    EXPECT_TRUE(changed.wait_for(guard, std::chrono::seconds(5), [] { return ran == kCreators * kEach; }))
        << ran << " of " << kCreators * kEach << " bodies ran";
}

TEST(ThreadPriority, LevelsMapToNiceValues) {
    using platform::ThreadPriority;
    struct Row {
        int level;
        ThreadPriority expected;
    } rows[] = {
        {-5, ThreadPriority::Normal},     // negative counts as normal
        {0, ThreadPriority::Normal},      //
        {1, ThreadPriority::BelowNormal}, //
        {2, ThreadPriority::Lowest},      //
        {3, ThreadPriority::Idle},        //
        {7, ThreadPriority::Idle},        // anything above 3 is idle too
    };
    for (const Row& row : rows) {
        // Each row on a fresh thread, so lowering in one row cannot block raising in the next.
        bool set = false;
        int nice = -100, before = -100;
        std::thread([&] {
            before = platform::GetCurrentThreadNiceValue();
            set = SetCurrentThreadPriority(row.level);
            nice = platform::GetCurrentThreadNiceValue();
        }).join();
        if (set) {
            EXPECT_EQ(nice, platform::NiceValueFor(row.expected)) << row.level;
        } else {
            EXPECT_EQ(nice, before) << "a refused change leaves the thread as it was";
        }
        if (platform::NiceValueFor(row.expected) >= before) {
            EXPECT_TRUE(set) << "lowering one's own priority is always allowed: " << row.level;
        }
    }
    EXPECT_LT(platform::NiceStepFor(ThreadPriority::Normal),
              platform::NiceStepFor(ThreadPriority::BelowNormal));
    EXPECT_LT(platform::NiceStepFor(ThreadPriority::BelowNormal),
              platform::NiceStepFor(ThreadPriority::Lowest));
    EXPECT_LT(platform::NiceStepFor(ThreadPriority::Lowest), platform::NiceStepFor(ThreadPriority::Idle));
}

TEST(ThreadPriority, BodiesRunBelowNormalAndMayAskToGoBackUp) {
    std::atomic<int> nice{-100};
    std::atomic<bool> carriedOn{false};
    int base = platform::GetCurrentThreadNiceValue();
    FunctionBody body([&] {
        nice = platform::GetCurrentThreadNiceValue();
        SetCurrentThreadPriority(0); // may be refused without privileges; the body carries on
        carriedOn = true;
    });
    CThreadRef thread = CThread::Create(body);
    ASSERT_TRUE(thread->Join(5));
    EXPECT_EQ(nice, (std::max)(base, platform::NiceValueFor(platform::ThreadPriority::BelowNormal)));
    EXPECT_TRUE(carriedOn);
}

TEST(ThreadSleep, ZeroAndNegativeReturnAtOnce) {
    auto start = Clock::now();
    SleepSeconds(0);
    SleepSeconds(-3);
    SleepSeconds(std::nan(""));
    YieldThread();
    EXPECT_LT(SecondsSince(start), 0.5);
    start = Clock::now();
    SleepSeconds(0.02);
    EXPECT_GE(SecondsSince(start), 0.019);
}

namespace {

// What clean-ups report, in the order they ran.
struct CleanUpLog {
    std::mutex lock;
    std::vector<int> ran; // guarded by lock
};
struct CleanUp {
    CleanUpLog* log;
    int tag;
};

void Record(void* context) {
    auto* cleanUp = static_cast<CleanUp*>(context);
    std::lock_guard guard(cleanUp->log->lock);
    cleanUp->log->ran.push_back(cleanUp->tag);
}

void Throw(void*) {
    throw std::runtime_error("clean-up failed");
}

// Registers another clean-up while the clean-ups run.
void RegisterAnother(void* context) {
    Record(context);
    auto* cleanUp = static_cast<CleanUp*>(context);
    platform::AtThreadExit(&Record, cleanUp + 1);
}

std::vector<int> RanOf(CleanUpLog& log) {
    std::lock_guard guard(log.lock);
    return log.ran;
}

} // namespace

TEST(ThreadExit, CleanUpsRunLastFirstWhenAThreadEndsEvenPastOneThatThrows) {
    CleanUpLog log;
    CleanUp cleanUps[] = {{&log, 1}, {&log, 2}, {&log, 3}, {&log, 4}};
    std::atomic<bool> ranEarly{true};
    std::thread thread([&] {
        platform::AtThreadExit(&Record, &cleanUps[0]);
        platform::AtThreadExit(&Throw, nullptr);
        platform::AtThreadExit(&RegisterAnother, &cleanUps[2]); // adds cleanUps[3] while they run
        platform::AtThreadExit(&Record, &cleanUps[1]);
        ranEarly = !RanOf(log).empty();
    });
    thread.join();
    EXPECT_FALSE(ranEarly);
    EXPECT_EQ(RanOf(log), (std::vector<int>{2, 3, 4, 1}));
}

TEST(ThreadExit, AnEarlyRunTakesTheCleanUpsSoFarAndTheEndTheRest) {
    CleanUpLog log;
    CleanUp early{&log, 1}, late{&log, 2};
    std::vector<int> afterEarlyRun;
    std::thread thread([&] {
        platform::AtThreadExit(&Record, &early);
        platform::RunThreadExitCleanups();
        afterEarlyRun = RanOf(log);
        platform::RunThreadExitCleanups(); // nothing left: runs nothing twice
        platform::AtThreadExit(&Record, &late);
    });
    thread.join();
    EXPECT_EQ(afterEarlyRun, std::vector<int>{1});
    EXPECT_EQ(RanOf(log), (std::vector<int>{1, 2}));
}

// Each thread keeps automata and group scratch for the regular expressions it matched with, and gives
// them up when it ends; threads that start afterwards take over the automata. Many short threads, of
// ours and of std::thread, match at once and one after another.
TEST(ThreadExit, ShortThreadsMatchingRegularExpressionsGiveUpWhatTheyKept) {
    constexpr int kRounds = 6, kThreads = 12;
    std::atomic<int> wrong{0}, matched{0};
    auto match = [&] {
        CRegExp header("^([A-Za-z-]+): *([0-9]+)$");
        CRegExp date("([0-9]{4})-([0-9]{2})-([0-9]{2})");
        for (int i = 0; i < 10; ++i) {
            bool ok = header.Match("Content-Length: 1234") && header.GetGroupLength(1) == 14 &&
                      header.GetGroupStart(2) == 16 && date.Match("on 2100-01-19 at noon") &&
                      date.GetGroupStart(3) == 11 && !date.Match("2100-1-19");
            ok ? ++matched : ++wrong;
        }
    };
    FunctionBody body(match);
    for (int round = 0; round < kRounds; ++round) {
        std::vector<CThreadRef> ours;
        std::vector<std::thread> others;
        for (int i = 0; i < kThreads; ++i) {
            ours.push_back(CThread::Create(body));
            others.emplace_back(match);
        }
        for (auto& thread : ours)
            EXPECT_TRUE(thread->Join(10));
        for (auto& thread : others)
            thread.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(matched, kRounds * kThreads * 2 * 10);
}
