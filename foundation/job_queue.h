// A queue of jobs served by a fixed number of worker threads, or by the caller when there are none.
// A job is a borrowed runnable or a callback with an argument, with a key by which it can be removed
// while it waits. The queue can be paused (running jobs go on, no new one starts), cancelled (waiting
// jobs are dropped, running ones are asked to stop through their worker's stop event) and waited on
// until it is idle.
//
// Threads: every public method may be called from any thread, including from inside a job. Locks are
// taken in the order m_queueLock, m_runningLock, m_workersLock.
//   m_queueLock guards m_queue and m_pauseCount;
//   m_runningLock guards m_running and m_shuttingDown (and orders a cancel's stop request against
//     the worker clearing it when the job ends);
//   m_workersLock guards the slots' user pointers; the slots themselves are fixed at construction.
// A runnable (or callback argument) must stay alive while a job of it waits or runs.
#pragma once

#include "foundation/event.h"
#include "foundation/mutex.h"
#include "foundation/runnable.h"
#include "foundation/thread.h"

#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CJobQueue {
public:
    using Callback = void (*)(void* argument);

    // Starts `workers` threads; 0 leaves the running of jobs to RunQueuedJobs.
    explicit CJobQueue(size_t workers);
    // Asks every worker to stop, waits for the running jobs to end, and drops the waiting ones.
    ~CJobQueue();
    CJobQueue(const CJobQueue&) = delete;
    CJobQueue& operator=(const CJobQueue&) = delete;

    void QueueJob(CRunnable& runnable, std::string key = {});
    void QueueJob(Callback callback, void* argument, std::string key = {});

    // Drops the first waiting job with that key; false when none waits.
    bool RemoveJob(std::string_view key);

    // Drops the matching waiting jobs and asks the workers running matching jobs to stop. Returns
    // without waiting for those to end (WaitIdle does).
    void CancelAll();
    void Cancel(const CRunnable& runnable);
    void Cancel(Callback callback);

    // Pauses nest: jobs start again after as many Resume calls.
    void Pause();
    void Resume();
    bool IsPaused() const;

    // Idle: nothing runs and nothing could start (the queue is empty or paused).
    bool IsIdle() const { return m_idle.IsSet(); }
    bool WaitIdle(double timeout = -1);

    size_t GetQueuedCount() const;
    size_t GetRunningCount() const;
    size_t GetWorkerCount() const { return m_workers.size(); }

    // Runs the waiting jobs on the calling thread, in order, until the queue is empty or paused; before
    // each it waits up to `gateTimeout` for a pause to end. Exceptions from the jobs are swallowed.
    // Returns the number of jobs run.
    size_t RunQueuedJobs(double gateTimeout = 0);

    // A pointer that a worker keeps for itself (such as a decoder it reuses between jobs). Called from
    // inside a job; the slot is the calling worker's. Set returns false off a worker thread.
    bool SetWorkerUserData(void* data);
    void* GetWorkerUserData() const;

private:
    struct Job {
        CRunnable* runnable = nullptr;
        Callback callback = nullptr;
        void* argument = nullptr;
        std::string key;
        int worker = -1; // the worker running it; -1 while waiting or when the caller runs it
        void Run() const;
    };

    struct Worker : CRunnable {
        CJobQueue* queue = nullptr;
        int index = 0;
        CThreadRef thread;        // set at construction under m_workersLock
        void* userData = nullptr; // guarded by m_workersLock
        void Run() override { queue->WorkerLoop(*this); }
    };

    void Enqueue(std::unique_ptr<Job> job);
    void Cancel(const std::function<bool(const Job&)>& matches);
    void WorkerLoop(Worker& worker);
    std::unique_ptr<Job> TakeJobLocked(int worker);
    void FinishJob(Job* job, bool clearStop);
    static void RunJobSafely(const Job& job);
    void UpdateWorkAvailableLocked();
    void UpdateIdleLocked();
    Worker* FindCurrentWorkerLocked() const;

    mutable CMutex m_queueLock;
    std::list<std::unique_ptr<Job>> m_queue;
    int m_pauseCount = 0;

    mutable CMutex m_runningLock;
    std::map<Job*, int> m_running;
    bool m_shuttingDown = false;

    mutable CMutex m_workersLock;
    std::vector<std::unique_ptr<Worker>> m_workers;

    CEvent m_workAvailable{false}; // set while jobs wait and the queue is not paused
    CEvent m_idle{true};
    CEvent m_notBusy{true}; // reset while the caller runs a job (RunQueuedJobs)
    CEvent m_gate{true};    // reset while paused; RunQueuedJobs waits for it
};
