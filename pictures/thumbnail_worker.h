// Makes thumbnails on a worker thread so that painting never waits for a decode: requests queue up
// and run in order through a provider chain; each answer goes to its callback, on the worker (the UI
// side posts it over to its own thread). Abandoning a folder cancels everything pending, and the
// decode that runs stops at its next row.
//
// Threads: Request, CancelAll and WaitIdle may be called from any thread, a callback included.
// m_lock guards m_requests. Locks are taken in the order m_lock, then the job queue's own.
#pragma once

#include "foundation/job_queue.h"
#include "pictures/image_provider.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

class CThumbnailWorker {
public:
    // The answer, its request's path and flags (the out-flags of the provider).
    using Callback = std::function<void(const std::string& path, const CImagePair& image, int flags)>;

    // `provider` is borrowed and must outlive the worker.
    explicit CThumbnailWorker(IImageProvider& provider);
    // Cancels what is pending and waits for the running request to end.
    ~CThumbnailWorker();
    CThumbnailWorker(const CThumbnailWorker&) = delete;
    CThumbnailWorker& operator=(const CThumbnailWorker&) = delete;

    void Request(const std::string& path, const CSizeSpec& size, Callback callback, int flags = 0);
    // Drops the waiting requests and stops the running one; their callbacks are not called, since the
    // cells they were for are gone (only an answer already on its way out may still arrive).
    void CancelAll();
    // Waits until nothing runs or waits; false when the time ran out.
    bool WaitIdle(double timeout = -1) { return m_queue.WaitIdle(timeout); }

private:
    struct Job {
        CThumbnailWorker* owner;
        std::string key; // the job queue's key, unique per request
        std::string path;
        CSizeSpec size;
        int flags;
        Callback callback;
        bool cancelled = false; // guarded by m_lock
    };

    static void Run(void* argument);

    IImageProvider& m_provider;
    std::mutex m_lock;
    std::list<std::unique_ptr<Job>> m_requests; // owned until the job ends or is dropped; m_lock
    uint64_t m_nextId = 0;                      // guarded by m_lock
    CJobQueue m_queue{1};                       // last: its worker uses the members above
};
