// The upload queue that the user interface, the selection commands and the page's completion check
// use: pictures by path over the session's core, the order in which they were added, the counts of
// the last refresh, and whether a picture of this queue ever completed.
//
// Threads: the owner's thread (the user-interface thread) calls everything but the getters and
// TakeChanges, which any thread may call. d_lock (recursive) guards the entries, the display order,
// the counters and the flags; it is taken before the session's own locks and never held while the
// session starts or stops a thread or tells its observers. d_addLock only makes adds of one path
// happen once: it is held across the session's add (whose observers run on the adding thread) and
// taken by nothing else.
#pragma once

#include "foundation/mutex.h"
#include "upload/upload_session.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CUploadJournal;
struct PluginParameters;

class UploadQueue {
public:
    // Told the new paused state after every pause and resume, on the thread that paused or resumed
    // (the owner's), with no lock of the queue held.
    using StateObserver = std::function<void(bool paused)>;
    // Whether a file is a picture this queue takes, by its path (the host registers the picture
    // types it knows). Called from the owner's thread only.
    using PictureTest = std::function<bool(const std::string& path)>;

    // The queue's identity and album fields come from the parameters, its session's connection count
    // from MaxConnections. Without a picture test the queue takes no file from the user.
    UploadQueue(const PluginParameters& parameters, UploadEndpoint endpoint, PictureTest isPicture = {});
    virtual ~UploadQueue();
    UploadQueue(const UploadQueue&) = delete;
    UploadQueue& operator=(const UploadQueue&) = delete;

    // Adds the picture unless the path is queued already; an empty album name takes the queue's album.
    // Returns the key (the path). Raises PxNoFileUploadException for an empty path.
    std::string Add(const std::string& path, const std::string& albumName);
    // The add of a user's choice: shortcuts resolved, only pictures accepted (false for anything
    // else), and a path already queued refused with CPluginAddUploadExistsException.
    virtual bool AddFromUser(const std::string& path);
    // Stops the picture's transfer and forgets it.
    void Remove(const std::string& path);
    // Ticks the session and recounts the entries; complete pictures leave the queue.
    void Refresh();
    std::shared_ptr<UploadJob> Find(const std::string& path) const;
    bool Contains(const std::string& path) const;
    // Paths in the order in which they were last added.
    std::vector<std::string> GetDisplayOrder() const;

    void Pause();
    void Resume();
    bool IsPaused() const { return d_session.IsPaused(); }

    // The run has ended (nothing pending) and some picture of this queue completed.
    bool IsComplete() const;
    bool IsCompletedSeen() const;
    // Counters of the last refresh; completed accumulates over refreshes.
    uint32_t GetCompletedCount() const;
    uint32_t GetFailedCount() const;
    uint32_t GetPendingCount() const;
    void ResetCounters();
    // Entries still held plus those completed.
    uint32_t GetTotalCount() const;
    // The session's count of sender threads launched, which only grows.
    uint64_t GetLaunchCount() const { return d_session.GetLaunchCount(); }
    // Set by every change of the entries; the reader clears it.
    bool TakeChanged();
    // Whether anything the user sees changed since the last call: the session's pictures (status,
    // progress, list), the entries or the paused state. Clears the mark. This is how a user interface
    // learns of changes made on sender threads without running any of its code there: it collects the
    // mark on its own thread, from a posted call or its refresh tick.
    bool TakeChanges();

    bool HasFailed() const;
    // Tries one failed picture again with what it knows (its identifier and data server, when it
    // still has them, so that it goes on from the server's offset). Returns its new job, or null when
    // the picture is not queued or has not failed.
    std::shared_ptr<UploadJob> Retry(const std::string& path);
    // Sends every failed picture back as a new one: new item and job, no identifier, offset 0.
    void RetryFailed();

    void AddStateObserver(StateObserver observer);
    PxUploadSession& GetSession() { return d_session; }
    const PxUploadSession& GetSession() const { return d_session; }

    // The journal that remembers the queue's unfinished pictures across runs (borrowed; it outlives
    // the queue). Set before the first picture is added.
    void SetJournal(CUploadJournal* journal);
    // Whether the file is a picture the queue takes: not a folder, and accepted by the picture test.
    bool IsAcceptedPicture(const std::string& path) const;
    void SetPictureTest(PictureTest isPicture);

private:
    // Adds under d_addLock, which the caller holds.
    std::string AddHoldingAddLock(const std::string& path, const std::string& albumName);
    void NotifyState();

    const std::string d_authenticationID;
    const std::string d_uid;
    const std::string d_sessionID;
    const std::string d_albumName;
    const std::string d_albumID;
    const std::string d_partnerID;
    const std::string d_partnerSubID;
    const std::string d_campaignID;

    PxUploadSession d_session;
    PictureTest d_isPicture;            // set at start-up, before the queue is shared
    CUploadJournal* d_journal = nullptr; // likewise

    CMutex d_addLock;
    mutable CMutex d_lock;
    std::map<std::string, std::shared_ptr<UploadJob>> d_entries;
    std::vector<std::string> d_displayOrder;
    uint32_t d_completed = 0;
    uint32_t d_failed = 0;
    uint32_t d_pending = 0;
    bool d_changed = false;
    bool d_completedSeen = false;
    std::vector<StateObserver> d_stateObservers;
    std::atomic<bool> d_stateChanged{false}; // entries or paused state changed since TakeChanges
};
