#include "upload/upload_journal.h"

#include "foundation/lock.h"
#include "platform/file_system.h"
#include "platform/user_folders.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_item_info.h"

namespace {

constexpr int kStateWaiting = 0;
constexpr int kStateFailed = 2;

int64_t ModifiedTime(const std::string& path) {
    std::optional<platform::FileStatus> status = platform::GetFileStatus(path);
    return status ? status->modified : 0;
}

} // namespace

std::string CUploadJournal::DefaultPath() {
    std::string folder = platform::GetUserFolder(platform::UserFolder::State);
    return folder.empty() ? folder : folder + "/pixolane/journal.db";
}

CUploadJournal::CUploadJournal(const std::string& path, const PluginParameters& parameters, ErrorReport report)
    : d_identity{parameters.d_server, parameters.d_sessionID, parameters.d_uid, parameters.d_albumName,
                 parameters.d_albumID},
      d_owner(platform::GetProcessId()), d_report(std::move(report)) {
    std::string error = "no state folder";
    if (!path.empty())
        d_store = platform::JournalStore::Open(path, &error);
    if (!d_store)
        Report(path + ": " + error);
}

CUploadJournal::~CUploadJournal() {
    CLock lock(d_lock);
    if (d_store)
        d_store->Release(d_owner);
}

bool CUploadJournal::IsWorking() const {
    CLock lock(d_lock);
    return d_store != nullptr;
}

platform::JournalRecord CUploadJournal::RecordOf(const UploadItemInfo& item, int state) const {
    platform::JournalRecord record;
    record.path = item.GetPath();
    record.size = item.GetFileSize();
    record.modified = ModifiedTime(item.GetPath());
    record.albumName = item.GetAlbumName();
    record.albumID = item.GetAlbumID();
    record.imageID = item.GetImageID();
    record.uploadServer = item.GetUploadServer();
    record.server = item.GetServer();
    record.cookie = item.GetCookie();
    record.state = state;
    return record;
}

CUploadJournal::Admission CUploadJournal::Admit(UploadItemInfo& item) {
    std::string error;
    Admission admission = Admission::New;
    {
        CLock lock(d_lock);
        if (!d_store)
            return Admission::New;
        platform::JournalRecord record = RecordOf(item, kStateWaiting);
        switch (d_store->Take(d_identity, record, d_owner)) {
        case platform::JournalStore::Claim::New:
            break;
        case platform::JournalStore::Claim::Resumed:
            item.SetImageID(record.imageID);
            item.SetUploadServer(record.uploadServer);
            item.SetServer(record.server);
            item.SetCookie(record.cookie);
            admission = Admission::Resumed;
            break;
        case platform::JournalStore::Claim::HeldByOther:
            return Admission::HeldByOther;
        case platform::JournalStore::Claim::Failed:
            error = Disable();
            break;
        }
    }
    Report(error);
    return admission;
}

void CUploadJournal::Identified(const UploadItemInfo& item) {
    std::string error;
    {
        CLock lock(d_lock);
        if (d_store && !d_store->Update(d_identity, RecordOf(item, kStateWaiting)))
            error = Disable();
    }
    Report(error);
}

void CUploadJournal::Failed(const UploadItemInfo& item) {
    std::string error;
    {
        CLock lock(d_lock);
        if (d_store && !d_store->Update(d_identity, RecordOf(item, kStateFailed)))
            error = Disable();
    }
    Report(error);
}

void CUploadJournal::Forget(const std::string& path) {
    std::string error;
    {
        CLock lock(d_lock);
        if (d_store && !d_store->Erase(d_identity, path))
            error = Disable();
    }
    Report(error);
}

std::vector<CUploadJournal::Picture> CUploadJournal::GetUnfinished() {
    std::vector<Picture> pictures;
    std::string error;
    {
        CLock lock(d_lock);
        if (!d_store)
            return pictures;
        std::optional<std::vector<platform::JournalRecord>> records = d_store->List(d_identity);
        if (!records) {
            error = Disable();
        } else {
            for (const platform::JournalRecord& record : *records) {
                if (record.owner != 0 && record.owner != d_owner && platform::IsProcessRunning(record.owner))
                    continue;
                // The session's own album is what an add without an album gives.
                bool sessionAlbum = record.albumName == d_identity.albumName && record.albumID == d_identity.albumID;
                pictures.push_back({record.path, sessionAlbum ? std::string() : record.albumName,
                                    record.state == kStateFailed});
            }
        }
    }
    Report(error);
    return pictures;
}

std::string CUploadJournal::Disable() {
    std::string text = d_store->GetLastError();
    d_store.reset();
    return text;
}

void CUploadJournal::Report(const std::string& text) const {
    if (!text.empty() && d_report)
        d_report(text);
}
