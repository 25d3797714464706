#include "foundation/job_queue.h"

#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/thread_id.h"
#include "foundation/trace.h"
#include "foundation/wait_set.h"

#include <algorithm>
#include <chrono>

void CJobQueue::Job::Run() const {
    if (runnable != nullptr)
        runnable->Run();
    else if (callback != nullptr)
        callback(argument);
}

CJobQueue::CJobQueue(size_t workers) {
    CLock slots(m_workersLock);
    for (size_t i = 0; i < workers; ++i) {
        auto worker = std::make_unique<Worker>();
        worker->queue = this;
        worker->index = static_cast<int>(i);
        m_workers.push_back(std::move(worker));
    }
    // Every member exists before the first worker runs.
    try {
        for (auto& worker : m_workers)
            worker->thread = CThread::Create(*worker);
    } catch (...) {
        // The workers already running use this object: they are stopped before it goes.
        for (auto& worker : m_workers) {
            if (!worker->thread)
                continue;
            worker->thread->RequestStop();
            worker->thread->Join(-1);
            worker->thread.Reset();
        }
        throw;
    }
}

CJobQueue::~CJobQueue() {
    {
        CLock running(m_runningLock);
        m_shuttingDown = true;
        for (auto& worker : m_workers)
            worker->thread->RequestStop();
    }
    for (auto& worker : m_workers) {
        worker->thread->Join(-1);
        worker->thread.Reset();
    }
}

void CJobQueue::QueueJob(CRunnable& runnable, std::string key) {
    auto job = std::make_unique<Job>();
    job->runnable = &runnable;
    job->key = std::move(key);
    Enqueue(std::move(job));
}

void CJobQueue::QueueJob(Callback callback, void* argument, std::string key) {
    auto job = std::make_unique<Job>();
    job->callback = callback;
    job->argument = argument;
    job->key = std::move(key);
    Enqueue(std::move(job));
}

void CJobQueue::Enqueue(std::unique_ptr<Job> job) {
    CLock queue(m_queueLock);
    m_queue.push_back(std::move(job));
    UpdateWorkAvailableLocked();
    CLock running(m_runningLock);
    UpdateIdleLocked();
}

bool CJobQueue::RemoveJob(std::string_view key) {
    CLock queue(m_queueLock);
    auto it =
        std::find_if(m_queue.begin(), m_queue.end(), [key](const auto& job) { return job->key == key; });
    if (it == m_queue.end())
        return false;
    m_queue.erase(it);
    UpdateWorkAvailableLocked();
    CLock running(m_runningLock);
    UpdateIdleLocked();
    return true;
}

void CJobQueue::CancelAll() {
    Cancel([](const Job&) { return true; });
}

void CJobQueue::Cancel(const CRunnable& runnable) {
    Cancel([&runnable](const Job& job) { return job.runnable == &runnable; });
}

void CJobQueue::Cancel(Callback callback) {
    Cancel([callback](const Job& job) { return job.runnable == nullptr && job.callback == callback; });
}

void CJobQueue::Cancel(const std::function<bool(const Job&)>& matches) {
    CLock queue(m_queueLock);
    std::erase_if(m_queue, [&](const auto& job) { return matches(*job); });
    UpdateWorkAvailableLocked();
    CLock running(m_runningLock);
    // The stop request is made while the job is known to be running: the worker clears it under the
    // same lock as it takes the job out, so it never reaches the worker's next job.
    for (auto& [job, worker] : m_running) {
        if (worker >= 0 && matches(*job))
            m_workers[static_cast<size_t>(worker)]->thread->RequestStop();
    }
    UpdateIdleLocked();
}

void CJobQueue::Pause() {
    CLock queue(m_queueLock);
    ++m_pauseCount;
    m_gate.Reset();
    UpdateWorkAvailableLocked();
    CLock running(m_runningLock);
    UpdateIdleLocked();
}

void CJobQueue::Resume() {
    CLock queue(m_queueLock);
    if (m_pauseCount > 0 && --m_pauseCount == 0)
        m_gate.Set();
    UpdateWorkAvailableLocked();
    CLock running(m_runningLock);
    UpdateIdleLocked();
}

bool CJobQueue::IsPaused() const {
    CLock queue(m_queueLock);
    return m_pauseCount > 0;
}

bool CJobQueue::WaitIdle(double timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    if (!m_idle.Lock(timeout))
        return false;
    double remaining = timeout;
    if (timeout >= 0)
        remaining = (std::max)(0.0, timeout - std::chrono::duration<double>(Clock::now() - start).count());
    return m_notBusy.Lock(remaining);
}

size_t CJobQueue::GetQueuedCount() const {
    CLock queue(m_queueLock);
    return m_queue.size();
}

size_t CJobQueue::GetRunningCount() const {
    CLock running(m_runningLock);
    return m_running.size();
}

std::unique_ptr<CJobQueue::Job> CJobQueue::TakeJobLocked(int worker) {
    if (m_pauseCount > 0 || m_queue.empty())
        return nullptr;
    std::unique_ptr<Job> job = std::move(m_queue.front());
    m_queue.pop_front();
    UpdateWorkAvailableLocked();
    CLock running(m_runningLock);
    job->worker = worker;
    m_running.emplace(job.get(), worker);
    UpdateIdleLocked();
    return job;
}

void CJobQueue::FinishJob(Job* job, bool clearStop) {
    CLock queue(m_queueLock);
    CLock running(m_runningLock);
    m_running.erase(job);
    // A stop request made by Cancel was for this job only; a shutdown's stays.
    if (clearStop && !m_shuttingDown) {
        if (CEvent* stop = GetStopEvent())
            stop->Reset();
    }
    UpdateIdleLocked();
}

void CJobQueue::RunJobSafely(const Job& job) {
    try {
        job.Run();
    } catch (const CException& e) {
        Trace("thread", 0, "job '%s': exception %s", job.key.c_str(), e.GetCode());
    } catch (const CThreadExit&) {
        // Ends the job, not the worker that happens to run it.
    } catch (...) {
        Trace("thread", 0, "job '%s': unknown exception", job.key.c_str());
    }
}

void CJobQueue::WorkerLoop(Worker& worker) {
    SetCurrentThreadPriority(1);
    CWaitSet wake{GetStopEvent(), &m_workAvailable};
    while (!IsStopRequested()) {
        wake.Wait(-1);
        if (IsStopRequested())
            break;
        std::unique_ptr<Job> job;
        {
            CLock queue(m_queueLock);
            job = TakeJobLocked(worker.index);
        }
        if (!job)
            continue; // another worker was quicker, or a pause came in between
        RunJobSafely(*job);
        FinishJob(job.get(), true);
    }
}

size_t CJobQueue::RunQueuedJobs(double gateTimeout) {
    size_t ran = 0;
    for (;;) {
        if (!m_gate.Lock(gateTimeout))
            break;
        std::unique_ptr<Job> job;
        {
            CLock queue(m_queueLock);
            job = TakeJobLocked(-1);
        }
        if (!job)
            break;
        m_notBusy.Reset();
        RunJobSafely(*job);
        m_notBusy.Set();
        FinishJob(job.get(), false);
        ++ran;
    }
    return ran;
}

void CJobQueue::UpdateWorkAvailableLocked() {
    if (m_pauseCount == 0 && !m_queue.empty())
        m_workAvailable.Set();
    else
        m_workAvailable.Reset();
}

void CJobQueue::UpdateIdleLocked() {
    if ((m_pauseCount > 0 || m_queue.empty()) && m_running.empty())
        m_idle.Set();
    else
        m_idle.Reset();
}

CJobQueue::Worker* CJobQueue::FindCurrentWorkerLocked() const {
    uint32_t self = GetCurrentThreadIdentity();
    for (const auto& worker : m_workers) {
        if (worker->thread && worker->thread->GetId() == self)
            return worker.get();
    }
    return nullptr;
}

bool CJobQueue::SetWorkerUserData(void* data) {
    CLock slots(m_workersLock);
    Worker* worker = FindCurrentWorkerLocked();
    if (worker == nullptr)
        return false;
    worker->userData = data;
    return true;
}

void* CJobQueue::GetWorkerUserData() const {
    CLock slots(m_workersLock);
    Worker* worker = FindCurrentWorkerLocked();
    return worker != nullptr ? worker->userData : nullptr;
}
