// The core of the upload session: the pictures waiting for upload or moving, the sender threads that
// move them (at most the maximum number of connections at once, started in the list's order), the
// pause count, the totals that the progress shows, and the statistics sender. Sender threads report
// status and progress here; observers hear of every change.
//
// Threads: the owner's thread (the user-interface thread) calls Add, Remove, Pause, Resume, Tick,
// SetOrderingRule and the destructor; sender threads call SetStatus and Progress; the getters and
// TakeChanges may be called from any thread. Locks are taken in the order list lock, scheduling lock,
// never the other way. d_listLock guards d_jobs, d_totalBytes, d_completedBytes and d_orderingRule;
// d_scheduleLock guards d_threads and d_pauseCount; d_statLock guards d_statSender; d_handOffLock, a
// leaf, guards d_handOffs. No lock is held while a sender thread is started or waited for, or while
// observers run: Pause and Remove ask every thread concerned to stop first and then wait for them
// together, so an observer on a sender thread may call any getter (IsPaused, GetThreadCount...) while
// the owner pauses.
#pragma once

#include "foundation/mutex.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_job.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class PxSenderThread;
class StatSender;

class PxUploadSession {
public:
    // Orders the list: true when the first job goes before the second.
    using OrderingRule = std::function<bool(const UploadJob&, const UploadJob&)>;
    using Observer = std::function<void()>;

    PxUploadSession(UploadEndpoint endpoint, uint32_t maxConnections);
    // Stops every sender thread, then the statistics sender (its unsent messages are dropped).
    ~PxUploadSession();
    PxUploadSession(const PxUploadSession&) = delete;
    PxUploadSession& operator=(const PxUploadSession&) = delete;

    // Appends a pending job for the item; the next scheduling pass starts it. Raises
    // PxNoFileUploadException when the item has no path.
    std::shared_ptr<UploadJob> Add(const UploadItemInfo& item);
    // Stops the picture's thread, drops its job (its size leaves the totals unless it failed), and
    // schedules.
    void Remove(const std::string& path);
    // Counts one pause; the first asks every thread to stop and returns when all have stopped (their
    // pictures stay pending). Returns true.
    bool Pause();
    // Takes back one pause; the last restarts the stopped threads and schedules. True while still
    // paused.
    bool Resume();
    bool IsPaused() const;
    // Counts the jobs, drops the complete ones, updates the totals and schedules.
    void Tick();

    // Reports from the sender threads, keyed by the picture's path.
    void SetStatus(const std::string& path, UploadStatus status, const std::string& text);
    // Adds `bytes` to the bytes done, or sets them when `add` is false.
    void Progress(const std::string& path, uint64_t bytes, bool add);

    void SetOrderingRule(OrderingRule rule);

    // Waits at most `timeout` seconds until the statistics of the finished pictures have been sent;
    // true when none are left. The destructor drops what is left.
    bool WaitForStatistics(double timeout);

    // Overall status, bytes done, size and the timer of the whole run, as of the last tick.
    const UploadJob& GetTotals() const { return d_totals; }
    // The jobs in the list, in its order.
    std::vector<std::shared_ptr<UploadJob>> GetJobs() const;
    size_t GetThreadCount() const;
    // How many sender threads the session has launched so far. A reader that samples the run now
    // and then learns from it that pictures were worked on in between, even when they all ended
    // before it looked.
    uint64_t GetLaunchCount() const;
    uint32_t GetMaxConnections() const { return d_maxConnections; }
    const UploadEndpoint& GetEndpoint() const { return d_endpoint; }

    // Observers are called after every change of status, progress or the list, on the thread that
    // made it: a sender thread for status and progress, the owner's thread for the list. No lock of the
    // session is held, so they may call the getters; they must not call the owner's operations (Add,
    // Remove, Pause, Resume, Tick) from a sender thread. A user interface does not draw from them: it
    // collects TakeChanges on its own thread (a posted call or its refresh tick).
    int AddObserver(Observer observer);
    void RemoveObserver(int id);
    // What a sender thread learnt of its picture: an identifier given or forgotten, or the outcome.
    // The queue's journal records it, so that a later run goes on where this one stopped.
    enum class ItemEvent { Identified, Complete, Failed };
    using ItemObserver = std::function<void(const UploadItemInfo& item, ItemEvent event)>;
    // Set before the first picture is added; called on the sender thread with no lock of the session
    // held, before the session hears of the outcome.
    void SetItemObserver(ItemObserver observer) { d_itemObserver = std::move(observer); }
    void ReportItem(const UploadItemInfo& item, ItemEvent event) const {
        if (d_itemObserver)
            d_itemObserver(item, event);
    }
    // Whether anything changed (as observers are told) since the last call; clears the mark. Any
    // thread; the user-interface thread collects it.
    bool TakeChanges() { return d_changed.exchange(false); }

private:
    struct Entry {
        std::shared_ptr<UploadJob> job;
        bool assigned = false; // a thread was made for it
    };
    using ThreadRef = std::shared_ptr<PxSenderThread>;
    // What a scheduling pass decided under the locks, done by Launch once they are released.
    struct Launches {
        std::vector<ThreadRef> start;  // listed threads to start (new ones and those a resume restarts)
        std::vector<ThreadRef> reaped; // finished threads taken off the list, destroyed in Launch
    };

    // Takes finished threads off the list and makes threads for unassigned jobs in the list's order,
    // to be started by Launch. The caller holds d_listLock.
    void ScheduleLocked(Launches& launches);
    // Starts the threads and lets the reaped ones go; a thread that cannot start is taken off the list
    // and its job waits for the next pass. The caller holds no lock.
    void Launch(Launches& launches);
    void NotifyObservers();
    Entry* FindLocked(const std::string& path);

    const UploadEndpoint d_endpoint;
    const uint32_t d_maxConnections;
    UploadJob d_totals;

    mutable CMutex d_listLock;
    std::vector<Entry> d_jobs;
    uint64_t d_totalBytes = 0;     // sizes of the listed pictures and of those completed, less failed
    uint64_t d_completedBytes = 0; // sizes of completed pictures no longer listed
    OrderingRule d_orderingRule;

    mutable CMutex d_scheduleLock;
    std::vector<ThreadRef> d_threads;
    int d_pauseCount = 0;
    uint64_t d_launches = 0;

    // Taken alone, never with the others: making the sender starts its thread.
    mutable CMutex d_statLock;
    std::unique_ptr<StatSender> d_statSender; // made with the first finished picture

    // Finished pictures whose statistics are on their way to the sender; a leaf lock, also taken
    // under d_listLock.
    std::mutex d_handOffLock;
    std::condition_variable d_handedOff;
    int d_handOffs = 0; // guarded by d_handOffLock

    std::atomic<bool> d_changed{false}; // set with every notification, cleared by TakeChanges

    mutable std::mutex d_observerLock;
    std::vector<std::pair<int, Observer>> d_observers; // guarded by d_observerLock
    int d_nextObserverId = 1;
    ItemObserver d_itemObserver; // set before any sender thread runs
};
