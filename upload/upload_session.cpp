#include "upload/upload_session.h"

#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/trace.h"
#include "upload/sender_thread.h"
#include "upload/stat_sender.h"
#include "upload/upload_exception.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr const char* kTrace = "upload";

// Asks every thread to stop, then waits for them together: each may take a while to notice (a name
// lookup cannot be cut short), and waiting in turn would add those times up.
void StopTogether(const std::vector<std::shared_ptr<PxSenderThread>>& threads) {
    for (const auto& thread : threads)
        thread->RequestStop();
    for (const auto& thread : threads)
        thread->Join();
}

} // namespace

PxUploadSession::PxUploadSession(UploadEndpoint endpoint, uint32_t maxConnections)
    : d_endpoint(std::move(endpoint)), d_maxConnections(std::clamp<uint32_t>(maxConnections, 1, 4)) {}

PxUploadSession::~PxUploadSession() {
    std::vector<ThreadRef> threads;
    {
        CLock lock(d_scheduleLock);
        threads.swap(d_threads);
    }
    // Their runs may still report, so the statistics sender goes after them.
    StopTogether(threads);
    threads.clear();
    std::unique_ptr<StatSender> statSender;
    {
        CLock lock(d_statLock);
        statSender.swap(d_statSender);
    }
}

std::shared_ptr<UploadJob> PxUploadSession::Add(const UploadItemInfo& item) {
    if (item.GetPath().empty())
        throw PxNoFileUploadException();
    auto job = std::make_shared<UploadJob>(item);
    {
        CLock lock(d_listLock);
        d_jobs.push_back(Entry{job, false});
        d_totalBytes += job->GetSize();
    }
    NotifyObservers();
    return job;
}

void PxUploadSession::Remove(const std::string& path) {
    std::vector<ThreadRef> stopped;
    {
        CLock lock(d_scheduleLock);
        for (auto it = d_threads.begin(); it != d_threads.end();) {
            if ((*it)->GetPath() == path) {
                stopped.push_back(std::move(*it));
                it = d_threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The runs report to the job while it is still listed; it is dropped once they have ended.
    StopTogether(stopped);
    stopped.clear();
    Launches launches;
    {
        CLock lock(d_listLock);
        for (auto it = d_jobs.begin(); it != d_jobs.end();) {
            if (it->job->GetPath() == path) {
                if (it->job->GetStatus() != UploadStatus::Failed)
                    d_totalBytes -= std::min(d_totalBytes, it->job->GetSize());
                it = d_jobs.erase(it);
            } else {
                ++it;
            }
        }
        ScheduleLocked(launches);
    }
    Launch(launches);
    NotifyObservers();
}

bool PxUploadSession::Pause() {
    std::vector<ThreadRef> stopping;
    {
        CLock lock(d_scheduleLock);
        if (++d_pauseCount == 1) {
            Trace(kTrace, 1, "session: paused, stopping %zu threads", d_threads.size());
            // The threads stay listed (stopped, not finished) so that a resume runs them again.
            stopping = d_threads;
            d_totals.StopTimer();
        }
    }
    StopTogether(stopping);
    return true;
}

bool PxUploadSession::Resume() {
    bool stillPaused;
    Launches launches;
    {
        CLock listLock(d_listLock);
        {
            CLock lock(d_scheduleLock);
            stillPaused = --d_pauseCount > 0;
            if (!stillPaused) {
                Trace(kTrace, 1, "session: resumed");
                // A finished thread is reaped below, never run again.
                for (const ThreadRef& thread : d_threads)
                    if (!thread->IsFinished()) {
                        launches.start.push_back(thread);
                        ++d_launches;
                    }
            }
        }
        ScheduleLocked(launches);
    }
    Launch(launches);
    return stillPaused;
}

bool PxUploadSession::IsPaused() const {
    CLock lock(d_scheduleLock);
    return d_pauseCount > 0;
}

void PxUploadSession::Tick() {
    Launches launches;
    {
        CLock lock(d_listLock);
        bool anyPending = false, anyFailed = false;
        uint64_t runningBytes = 0;
        for (auto it = d_jobs.begin(); it != d_jobs.end();) {
            const UploadJob& job = *it->job;
            switch (job.GetStatus()) {
            case UploadStatus::Complete:
                d_completedBytes += job.GetSize();
                it = d_jobs.erase(it);
                continue;
            case UploadStatus::Pending:
                anyPending = true;
                // Progress counts the request's form fields and headers too; a picture never
                // contributes more than its size.
                runningBytes += std::min(job.GetBytesDone(), job.GetSize());
                break;
            case UploadStatus::Failed:
                anyFailed = true;
                break;
            }
            ++it;
        }
        UploadStatus overall = anyPending  ? UploadStatus::Pending
                               : anyFailed ? UploadStatus::Failed
                                           : UploadStatus::Complete;
        d_totals.SetStatus(overall);
        d_totals.SetBytesDone(d_completedBytes + runningBytes);
        d_totals.SetSize(d_totalBytes);
        if (overall == UploadStatus::Complete) {
            d_completedBytes = d_totalBytes = 0;
            d_totals.ResetTimer();
        }
        ScheduleLocked(launches);
    }
    Launch(launches);
}

void PxUploadSession::SetStatus(const std::string& path, UploadStatus status, const std::string& text) {
    std::shared_ptr<UploadJob> finished;
    {
        CLock lock(d_listLock);
        Entry* entry = FindLocked(path);
        if (entry == nullptr)
            return;
        UploadJob& job = *entry->job;
        job.SetStatus(status);
        job.AppendErrorText(text);
        if (status == UploadStatus::Failed)
            d_totalBytes -= std::min(d_totalBytes, job.GetSize());
        if (d_endpoint.GetSendStatistics() && status != UploadStatus::Pending) {
            finished = entry->job;
            // Counted with the status, so that whoever sees the picture finished also waits for its
            // statistics to reach the sender.
            std::lock_guard handOff(d_handOffLock);
            ++d_handOffs;
        }
    }
    // After the list lock: making the sender starts a thread. The job's figures are still those of the
    // moment it ended, as only the reporting thread changes them.
    if (finished) {
        try {
            CLock lock(d_statLock);
            if (!d_statSender)
                d_statSender = std::make_unique<StatSender>(d_endpoint);
            d_statSender->Enqueue(*finished);
        } catch (...) {
            // Statistics never touch the outcome of a picture.
            Trace(kTrace, 0, "session: statistics sender not available");
        }
        std::lock_guard handOff(d_handOffLock);
        --d_handOffs;
        d_handedOff.notify_all();
    }
    NotifyObservers();
}

void PxUploadSession::Progress(const std::string& path, uint64_t bytes, bool add) {
    if (add && bytes == 0)
        return;
    {
        CLock lock(d_listLock);
        Entry* entry = FindLocked(path);
        if (entry == nullptr)
            return;
        if (add)
            entry->job->AddBytesDone(bytes);
        else
            entry->job->SetBytesDone(bytes);
    }
    NotifyObservers();
}

void PxUploadSession::SetOrderingRule(OrderingRule rule) {
    CLock lock(d_listLock);
    d_orderingRule = std::move(rule);
}

bool PxUploadSession::WaitForStatistics(double timeout) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    {
        std::unique_lock handOff(d_handOffLock);
        auto handedOff = [this] { return d_handOffs == 0; };
        if (timeout < 0)
            d_handedOff.wait(handOff, handedOff);
        else if (!d_handedOff.wait_for(handOff, std::chrono::duration<double>(timeout), handedOff))
            return false;
    }
    if (timeout >= 0)
        timeout = std::max(0.0, timeout - std::chrono::duration<double>(Clock::now() - start).count());
    StatSender* sender;
    {
        CLock lock(d_statLock);
        sender = d_statSender.get();
    }
    // The sender lives until the session goes.
    return sender == nullptr || sender->WaitUntilIdle(timeout);
}

std::vector<std::shared_ptr<UploadJob>> PxUploadSession::GetJobs() const {
    CLock lock(d_listLock);
    std::vector<std::shared_ptr<UploadJob>> jobs;
    jobs.reserve(d_jobs.size());
    for (const Entry& entry : d_jobs)
        jobs.push_back(entry.job);
    return jobs;
}

size_t PxUploadSession::GetThreadCount() const {
    CLock lock(d_scheduleLock);
    return d_threads.size();
}

uint64_t PxUploadSession::GetLaunchCount() const {
    CLock lock(d_scheduleLock);
    return d_launches;
}

int PxUploadSession::AddObserver(Observer observer) {
    std::lock_guard lock(d_observerLock);
    int id = d_nextObserverId++;
    d_observers.emplace_back(id, std::move(observer));
    return id;
}

void PxUploadSession::RemoveObserver(int id) {
    std::lock_guard lock(d_observerLock);
    std::erase_if(d_observers, [id](const auto& observer) { return observer.first == id; });
}

void PxUploadSession::ScheduleLocked(Launches& launches) {
    CLock lock(d_scheduleLock);
    if (d_pauseCount > 0)
        return;
    // A finished run has reported its outcome and returned; its thread goes in Launch.
    for (auto it = d_threads.begin(); it != d_threads.end();) {
        if ((*it)->IsFinished()) {
            launches.reaped.push_back(std::move(*it));
            it = d_threads.erase(it);
        } else {
            ++it;
        }
    }
    size_t slots = d_maxConnections > d_threads.size() ? d_maxConnections - d_threads.size() : 0;
    if (slots > 0) {
        if (d_orderingRule && !d_jobs.empty())
            std::stable_sort(d_jobs.begin(), d_jobs.end(), [this](const Entry& a, const Entry& b) {
                return d_orderingRule(*a.job, *b.job);
            });
        for (Entry& entry : d_jobs) {
            if (slots == 0)
                break;
            if (entry.assigned)
                continue;
            auto thread = std::make_shared<PxSenderThread>(d_endpoint, *this, entry.job);
            entry.assigned = true;
            ++d_launches;
            d_threads.push_back(thread);
            launches.start.push_back(std::move(thread));
            --slots;
        }
    }
    if (!d_threads.empty())
        d_totals.StartTimer();
}

void PxUploadSession::Launch(Launches& launches) {
    launches.reaped.clear();
    for (const ThreadRef& thread : launches.start) {
        try {
            thread->Start();
            Trace(kTrace, 1, "session: started %s", thread->GetPath().c_str());
        } catch (const CException& e) {
            // The picture waits for the next pass.
            Trace(kTrace, 0, "session: no thread for %s: %s", thread->GetPath().c_str(), e.GetCode());
            CLock listLock(d_listLock);
            CLock lock(d_scheduleLock);
            std::erase(d_threads, thread);
            for (Entry& entry : d_jobs)
                if (entry.job == thread->GetUploadJob())
                    entry.assigned = false;
        }
    }
    launches.start.clear();
}

void PxUploadSession::NotifyObservers() {
    d_changed = true;
    std::vector<std::pair<int, Observer>> observers;
    {
        std::lock_guard lock(d_observerLock);
        observers = d_observers;
    }
    for (const auto& observer : observers)
        observer.second();
}

PxUploadSession::Entry* PxUploadSession::FindLocked(const std::string& path) {
    for (Entry& entry : d_jobs)
        if (entry.job->GetPath() == path)
            return &entry;
    return nullptr;
}
