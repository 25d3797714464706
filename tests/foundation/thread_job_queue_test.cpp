// CJobQueue with workers and without: order, pause, cancel, removal by key, worker slots, shutdown.
#include "foundation/event.h"
#include "foundation/job_queue.h"
#include "foundation/lock.h"
#include "foundation/mutex.h"
#include "foundation/thread_id.h"
#include "foundation/wait_set.h"

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

class FunctionJob : public CRunnable {
public:
    explicit FunctionJob(std::function<void()> body) : m_body(std::move(body)) {}
    void Run() override { m_body(); }

private:
    std::function<void()> m_body;
};

// Records the order in which jobs ran.
class OrderLog {
public:
    void Add(int n) {
        CLock lock(m_mutex);
        m_order.push_back(n);
    }
    std::vector<int> Get() const {
        CLock lock(m_mutex);
        return m_order;
    }

private:
    mutable CMutex m_mutex;
    std::vector<int> m_order;
};

// A job that holds its worker until released or asked to stop, and says when it started.
class BlockingJob : public CRunnable {
public:
    void Run() override {
        ++runs;
        started.Set();
        CWaitSet wait{GetStopEvent(), &release};
        wait.Wait(30);
        stopped = IsStopRequested();
    }
    CEvent started, release;
    std::atomic<int> runs{0};
    std::atomic<bool> stopped{false};
};

void CountCallback(void* argument) {
    ++*static_cast<std::atomic<int>*>(argument);
}
void OtherCallback(void* argument) {
    ++*static_cast<std::atomic<int>*>(argument);
}

} // namespace

TEST(ThreadJobQueue, WorkersRunEveryJobOnce) {
    std::atomic<int> count{0};
    {
        CJobQueue queue(3);
        EXPECT_EQ(queue.GetWorkerCount(), 3u);
        for (int i = 0; i < 50; ++i)
            queue.QueueJob(&CountCallback, &count);
        ASSERT_TRUE(queue.WaitIdle(10));
        EXPECT_EQ(count, 50);
        EXPECT_EQ(queue.GetQueuedCount(), 0u);
        EXPECT_EQ(queue.GetRunningCount(), 0u);
        EXPECT_TRUE(queue.IsIdle());
    }
}

TEST(ThreadJobQueue, OneWorkerRunsJobsInOrderOffTheCallersThread) {
    OrderLog log;
    std::atomic<bool> offCaller{true};
    uint32_t caller = GetCurrentThreadIdentity();
    std::vector<std::unique_ptr<FunctionJob>> jobs;
    CJobQueue queue(1);
    for (int i = 0; i < 10; ++i) {
        jobs.push_back(std::make_unique<FunctionJob>([&, i] {
            log.Add(i);
            if (GetCurrentThreadIdentity() == caller)
                offCaller = false;
        }));
        queue.QueueJob(*jobs.back());
    }
    ASSERT_TRUE(queue.WaitIdle(10));
    EXPECT_EQ(log.Get(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_TRUE(offCaller);
}

// Pausing while a job runs lets that job finish but starts no other; the queue counts as idle once the
// running job ends, and resuming runs the rest.
TEST(ThreadJobQueue, PauseMidRunStopsNewJobsOnly) {
    BlockingJob first;
    std::atomic<int> later{0};
    CJobQueue queue(2);
    queue.QueueJob(first);
    ASSERT_TRUE(first.started.Lock(5));
    queue.Pause();
    queue.Pause(); // pauses nest
    for (int i = 0; i < 5; ++i)
        queue.QueueJob(&CountCallback, &later);
    EXPECT_FALSE(queue.IsIdle()) << "a job still runs";
    first.release.Set();
    ASSERT_TRUE(queue.WaitIdle(5)) << "paused with nothing running is idle";
    EXPECT_EQ(later, 0);
    EXPECT_EQ(queue.GetQueuedCount(), 5u);
    queue.Resume();
    EXPECT_TRUE(queue.IsPaused());
    EXPECT_TRUE(queue.IsIdle());
    queue.Resume();
    ASSERT_TRUE(queue.WaitIdle(5));
    EXPECT_EQ(later, 5);
    EXPECT_FALSE(first.stopped);
}

// Cancelling drops the waiting jobs and stops the running one through its worker's stop event; the
// worker then serves new jobs with its stop event clear.
TEST(ThreadJobQueue, CancelMidRunStopsTheRunningJobAndKeepsTheWorker) {
    BlockingJob running;
    std::atomic<int> waiting{0};
    CJobQueue queue(1);
    queue.QueueJob(running);
    ASSERT_TRUE(running.started.Lock(5));
    for (int i = 0; i < 4; ++i)
        queue.QueueJob(&CountCallback, &waiting);
    queue.CancelAll();
    EXPECT_EQ(queue.GetQueuedCount(), 0u);
    ASSERT_TRUE(queue.WaitIdle(5)) << "the running job must see the stop request";
    EXPECT_TRUE(running.stopped);
    EXPECT_EQ(waiting, 0);

    BlockingJob next;
    queue.QueueJob(next);
    ASSERT_TRUE(next.started.Lock(5)) << "the worker survives a cancel";
    next.release.Set();
    ASSERT_TRUE(queue.WaitIdle(5));
    EXPECT_FALSE(next.stopped) << "a cancel's stop request must not reach the next job";
}

TEST(ThreadJobQueue, CancelMatchesOnlyTheGivenRunnableOrCallback) {
    BlockingJob target, bystander;
    std::atomic<int> counted{0}, other{0};
    CJobQueue queue(2);
    queue.QueueJob(target);
    queue.QueueJob(bystander);
    ASSERT_TRUE(target.started.Lock(5));
    ASSERT_TRUE(bystander.started.Lock(5));
    queue.Pause();
    queue.QueueJob(target);
    queue.QueueJob(&CountCallback, &counted);
    queue.QueueJob(&OtherCallback, &other);
    queue.QueueJob(&CountCallback, &counted);

    queue.Cancel(target);
    queue.Cancel(&CountCallback);
    EXPECT_EQ(queue.GetQueuedCount(), 1u) << "only the other callback waits";
    bystander.release.Set();
    queue.Resume();
    ASSERT_TRUE(queue.WaitIdle(5));
    EXPECT_TRUE(target.stopped);
    EXPECT_FALSE(bystander.stopped);
    EXPECT_EQ(target.runs, 1);
    EXPECT_EQ(counted, 0);
    EXPECT_EQ(other, 1);
}

TEST(ThreadJobQueue, RemoveByKeyTakesTheFirstWaitingJob) {
    OrderLog log;
    FunctionJob a([&] { log.Add(1); }), b([&] { log.Add(2); }), c([&] { log.Add(3); });
    CJobQueue queue(1);
    queue.Pause();
    queue.QueueJob(a, "x");
    queue.QueueJob(b, "y");
    queue.QueueJob(c, "x");
    EXPECT_TRUE(queue.RemoveJob("x"));
    EXPECT_FALSE(queue.RemoveJob("z"));
    EXPECT_EQ(queue.GetQueuedCount(), 2u);
    queue.Resume();
    ASSERT_TRUE(queue.WaitIdle(5));
    EXPECT_EQ(log.Get(), (std::vector<int>{2, 3}));
    EXPECT_FALSE(queue.RemoveJob("x")) << "a job that ran is no longer waiting";
}

TEST(ThreadJobQueue, WithoutWorkersTheCallerRunsTheJobs) {
    OrderLog log;
    uint32_t caller = GetCurrentThreadIdentity();
    std::atomic<bool> onCaller{true};
    FunctionJob a([&] { log.Add(1); }), b([&] {
        onCaller = onCaller && GetCurrentThreadIdentity() == caller;
        throw std::runtime_error("swallowed");
    }),
        c([&] { log.Add(3); });
    CJobQueue queue(0);
    queue.QueueJob(a);
    queue.QueueJob(b);
    queue.QueueJob(c);
    EXPECT_FALSE(queue.IsIdle());
    EXPECT_FALSE(queue.WaitIdle(0));
    queue.Pause();
    EXPECT_EQ(queue.RunQueuedJobs(), 0u) << "a paused queue runs nothing";
    EXPECT_EQ(queue.RunQueuedJobs(0.01), 0u);
    queue.Resume();
    EXPECT_EQ(queue.RunQueuedJobs(), 3u);
    EXPECT_TRUE(onCaller);
    EXPECT_EQ(log.Get(), (std::vector<int>{1, 3}));
    EXPECT_TRUE(queue.WaitIdle(0));
}

TEST(ThreadJobQueue, CallerWaitsAtTheGateForAResume) {
    std::atomic<int> count{0};
    CJobQueue queue(0);
    queue.QueueJob(&CountCallback, &count);
    queue.Pause();
    CEvent waiting;
    std::thread resumer([&] {
        waiting.Lock(-1);
        queue.Resume();
    });
    waiting.Set();
    EXPECT_EQ(queue.RunQueuedJobs(5), 1u);
    resumer.join();
    EXPECT_EQ(count, 1);
}

TEST(ThreadJobQueue, WorkerUserDataBelongsToEachWorker) {
    constexpr int kJobs = 40;
    uint32_t slots[2] = {0, 0};
    std::atomic<int> claimed{0}, mismatches{0};
    CJobQueue queue(2);
    FunctionJob job([&] {
        // Each worker keeps a pointer to its own identity; another worker's would not match.
        auto* mine = static_cast<uint32_t*>(queue.GetWorkerUserData());
        if (mine == nullptr) {
            int index = claimed++;
            if (index >= 2) {
                ADD_FAILURE() << "a worker lost its pointer";
                return;
            }
            mine = &slots[index];
            *mine = GetCurrentThreadIdentity();
            EXPECT_TRUE(queue.SetWorkerUserData(mine));
        }
        if (*mine != GetCurrentThreadIdentity())
            ++mismatches;
    });
    for (int i = 0; i < kJobs; ++i)
        queue.QueueJob(job);
    ASSERT_TRUE(queue.WaitIdle(10));
    EXPECT_EQ(mismatches, 0);
    EXPECT_GE(claimed, 1);
    EXPECT_FALSE(queue.SetWorkerUserData(&slots[0])) << "the caller is not a worker";
    EXPECT_EQ(queue.GetWorkerUserData(), nullptr);
}

TEST(ThreadJobQueue, DestructionStopsRunningJobsAndDropsWaitingOnes) {
    BlockingJob running;
    std::atomic<int> waiting{0};
    {
        CJobQueue queue(1);
        queue.QueueJob(running);
        ASSERT_TRUE(running.started.Lock(5));
        queue.QueueJob(&CountCallback, &waiting);
    }
    EXPECT_TRUE(running.stopped);
    EXPECT_EQ(waiting, 0);
}

// Producers add, pause and resume from several threads while workers take jobs; nothing may be lost,
// run twice, or left waiting.
TEST(ThreadJobQueue, ConcurrentProducersAndPauses) {
    constexpr int kProducers = 4, kEach = 200;
    std::atomic<int> count{0};
    CJobQueue queue(3);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                if (i % 50 == p) {
                    queue.Pause();
                    queue.QueueJob(&CountCallback, &count, "k");
                    queue.Resume();
                } else {
                    queue.QueueJob(&CountCallback, &count);
                }
            }
        });
    }
    for (auto& producer : producers)
        producer.join();
    ASSERT_TRUE(queue.WaitIdle(10));
    EXPECT_FALSE(queue.IsPaused());
    EXPECT_EQ(count, kProducers * kEach);
}
