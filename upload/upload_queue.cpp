#include "upload/upload_queue.h"

#include "foundation/lock.h"
#include "foundation/path.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_journal.h"
#include "upload/upload_exception.h"

#include <algorithm>
#include <utility>

UploadQueue::UploadQueue(const PluginParameters& parameters, UploadEndpoint endpoint, PictureTest isPicture)
    : d_authenticationID(parameters.d_authenticationID), d_uid(parameters.d_uid),
      d_sessionID(parameters.d_sessionID), d_albumName(parameters.d_albumName),
      d_albumID(parameters.d_albumID), d_partnerID(parameters.d_partnerID),
      d_partnerSubID(parameters.d_partnerSubID), d_campaignID(parameters.d_campaignID),
      d_session(std::move(endpoint), parameters.d_maxConnections), d_isPicture(std::move(isPicture)) {}

UploadQueue::~UploadQueue() = default;

std::string UploadQueue::Add(const std::string& path, const std::string& albumName) {
    CLock adding(d_addLock);
    return AddHoldingAddLock(path, albumName);
}

std::string UploadQueue::AddHoldingAddLock(const std::string& path, const std::string& albumName) {
    if (Contains(path))
        return path;
    UploadItemInfo item;
    item.SetPath(path);
    item.SetAuthenticationID(d_authenticationID);
    item.SetSessionID(d_sessionID);
    item.SetUID(d_uid);
    if (albumName.empty()) {
        item.SetAlbumName(d_albumName);
        item.SetAlbumID(d_albumID);
    } else {
        item.SetAlbumName(albumName);
        item.SetAlbumID("");
    }
    item.SetPartnerID(d_partnerID);
    item.SetPartnerSubID(d_partnerSubID);
    item.SetCampaignID(d_campaignID);
    // A picture that another copy of the program is sending is that copy's to finish.
    if (d_journal != nullptr && d_journal->Admit(item) == CUploadJournal::Admission::HeldByOther)
        throw CPluginAddUploadExistsException(path);
    // Not under d_lock: the session tells its observers of the new job.
    std::shared_ptr<UploadJob> job = d_session.Add(item);
    CLock lock(d_lock);
    d_entries[path] = std::move(job);
    std::erase(d_displayOrder, path);
    d_displayOrder.push_back(path);
    d_changed = true;
    d_stateChanged = true;
    return path;
}

bool UploadQueue::IsAcceptedPicture(const std::string& path) const {
    return d_isPicture && !IsFolder(path) && d_isPicture(path);
}

void UploadQueue::SetPictureTest(PictureTest isPicture) {
    d_isPicture = std::move(isPicture);
}

bool UploadQueue::AddFromUser(const std::string& path) {
    std::string resolved = ResolveShortcuts(path);
    if (!IsAcceptedPicture(resolved))
        return false;
    CLock adding(d_addLock);
    if (Contains(resolved))
        throw CPluginAddUploadExistsException(resolved);
    AddHoldingAddLock(resolved, "");
    return true;
}

void UploadQueue::Remove(const std::string& path) {
    {
        CLock lock(d_lock);
        std::erase(d_displayOrder, path);
        d_entries.erase(path);
        d_changed = true;
        d_stateChanged = true;
    }
    // Not under d_lock: the session waits here for the picture's thread to stop.
    d_session.Remove(path);
    if (d_journal != nullptr)
        d_journal->Forget(path);
}

void UploadQueue::SetJournal(CUploadJournal* journal) {
    d_journal = journal;
    if (journal == nullptr) {
        d_session.SetItemObserver({});
        return;
    }
    d_session.SetItemObserver([journal](const UploadItemInfo& item, PxUploadSession::ItemEvent event) {
        switch (event) {
        case PxUploadSession::ItemEvent::Identified:
            journal->Identified(item);
            break;
        case PxUploadSession::ItemEvent::Complete:
            journal->Forget(item.GetPath());
            break;
        case PxUploadSession::ItemEvent::Failed:
            journal->Failed(item);
            break;
        }
    });
}

void UploadQueue::Refresh() {
    // Not under d_lock: the tick starts the next threads and lets finished ones go.
    d_session.Tick();
    CLock lock(d_lock);
    d_failed = d_pending = 0;
    for (auto it = d_entries.begin(); it != d_entries.end();) {
        switch (it->second->GetStatus()) {
        case UploadStatus::Complete:
            d_completedSeen = true;
            std::erase(d_displayOrder, it->first);
            it = d_entries.erase(it);
            ++d_completed;
            d_changed = true;
            d_stateChanged = true;
            continue;
        case UploadStatus::Failed:
            ++d_failed;
            break;
        case UploadStatus::Pending:
            ++d_pending;
            break;
        }
        ++it;
    }
}

std::shared_ptr<UploadJob> UploadQueue::Find(const std::string& path) const {
    CLock lock(d_lock);
    auto entry = d_entries.find(path);
    return entry != d_entries.end() ? entry->second : nullptr;
}

bool UploadQueue::Contains(const std::string& path) const {
    CLock lock(d_lock);
    return d_entries.contains(path);
}

std::vector<std::string> UploadQueue::GetDisplayOrder() const {
    CLock lock(d_lock);
    return d_displayOrder;
}

void UploadQueue::Pause() {
    d_session.Pause();
    NotifyState();
}

void UploadQueue::Resume() {
    d_session.Resume();
    NotifyState();
}

bool UploadQueue::IsComplete() const {
    CLock lock(d_lock);
    return d_session.GetTotals().GetStatus() != UploadStatus::Pending && d_completedSeen;
}

bool UploadQueue::IsCompletedSeen() const {
    CLock lock(d_lock);
    return d_completedSeen;
}

uint32_t UploadQueue::GetCompletedCount() const {
    CLock lock(d_lock);
    return d_completed;
}

uint32_t UploadQueue::GetFailedCount() const {
    CLock lock(d_lock);
    return d_failed;
}

uint32_t UploadQueue::GetPendingCount() const {
    CLock lock(d_lock);
    return d_pending;
}

void UploadQueue::ResetCounters() {
    CLock lock(d_lock);
    d_completed = d_failed = d_pending = 0;
}

uint32_t UploadQueue::GetTotalCount() const {
    CLock lock(d_lock);
    return static_cast<uint32_t>(d_entries.size()) + d_completed;
}

bool UploadQueue::TakeChanged() {
    CLock lock(d_lock);
    return std::exchange(d_changed, false);
}

bool UploadQueue::TakeChanges() {
    // Both marks are collected, whichever is set.
    bool session = d_session.TakeChanges();
    bool own = d_stateChanged.exchange(false);
    return session || own;
}

bool UploadQueue::HasFailed() const {
    CLock lock(d_lock);
    return std::any_of(d_entries.begin(), d_entries.end(),
                       [](const auto& entry) { return entry.second->GetStatus() == UploadStatus::Failed; });
}

std::shared_ptr<UploadJob> UploadQueue::Retry(const std::string& path) {
    std::shared_ptr<UploadJob> failed = Find(path);
    if (!failed || failed->GetStatus() != UploadStatus::Failed)
        return nullptr;
    // Its sender thread has ended: the item is no thread's any more.
    UploadItemInfo item = failed->GetItem();
    d_session.Remove(path);
    if (d_journal != nullptr)
        d_journal->Identified(item);
    std::shared_ptr<UploadJob> job = d_session.Add(item);
    CLock lock(d_lock);
    d_entries[path] = job;
    d_changed = true;
    d_stateChanged = true;
    return job;
}

void UploadQueue::RetryFailed() {
    std::vector<std::string> failed;
    {
        CLock lock(d_lock);
        for (const auto& [path, job] : d_entries)
            if (job->GetStatus() == UploadStatus::Failed)
                failed.push_back(path);
    }
    for (const std::string& path : failed) {
        std::shared_ptr<UploadJob> job = Find(path);
        if (!job)
            continue;
        std::string picture = job->GetPath();
        Remove(picture);
        try {
            AddFromUser(picture);
        } catch (const CPluginAddUploadExistsException&) {
            // Added again meanwhile: it is queued, which is what retrying wants.
        }
    }
    CLock lock(d_lock);
    d_changed = true;
    d_stateChanged = true;
}

void UploadQueue::AddStateObserver(StateObserver observer) {
    CLock lock(d_lock);
    d_stateObservers.push_back(std::move(observer));
}

void UploadQueue::NotifyState() {
    std::vector<StateObserver> observers;
    {
        CLock lock(d_lock);
        observers = d_stateObservers;
    }
    bool paused = d_session.IsPaused();
    d_stateChanged = true;
    for (const StateObserver& observer : observers)
        observer(paused);
}
