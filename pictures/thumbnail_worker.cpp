#include "pictures/thumbnail_worker.h"

#include "foundation/string_format.h"

#include <algorithm>

CThumbnailWorker::CThumbnailWorker(IImageProvider& provider) : m_provider(provider) {}

CThumbnailWorker::~CThumbnailWorker() {
    CancelAll();
    m_queue.WaitIdle(-1);
}

void CThumbnailWorker::Request(const std::string& path, const CSizeSpec& size, Callback callback, int flags) {
    std::lock_guard lock(m_lock);
    auto job = std::make_unique<Job>();
    job->owner = this;
    job->key = FormatString("thumbnail %llu", static_cast<unsigned long long>(m_nextId++));
    job->path = path;
    job->size = size;
    job->flags = flags;
    job->callback = std::move(callback);
    Job* queued = job.get();
    m_requests.push_back(std::move(job));
    m_queue.QueueJob(&CThumbnailWorker::Run, queued, queued->key);
}

void CThumbnailWorker::CancelAll() {
    std::lock_guard lock(m_lock);
    // A job still waiting is dropped here; one that the worker has taken ends by itself and finds
    // itself cancelled.
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        (*it)->cancelled = true;
        if (m_queue.RemoveJob((*it)->key))
            it = m_requests.erase(it);
        else
            ++it;
    }
    m_queue.CancelAll(); // the stop request for the running one
}

void CThumbnailWorker::Run(void* argument) {
    Job& job = *static_cast<Job*>(argument);
    CThumbnailWorker& owner = *job.owner;
    int flags = job.flags;
    CImagePair image;
    bool failed = false;
    try {
        image = owner.m_provider.Get(job.size, job.path, flags);
    } catch (...) {
        failed = true; // a provider's failure leaves the cell as it is
    }

    Callback callback;
    std::string path;
    {
        std::lock_guard lock(owner.m_lock);
        if (!job.cancelled && !failed) {
            callback = std::move(job.callback);
            path = std::move(job.path);
        }
        std::erase_if(owner.m_requests, [&job](const auto& held) { return held.get() == &job; });
    }
    // Last, outside the lock: the callback may queue the next request.
    if (callback)
        callback(path, image, flags);
}
