// The queue's memory across runs: every picture not yet uploaded, with the identifier and servers
// the upload service gave it, so that a program that was killed, a machine that restarted or a window
// that was closed mid-upload goes on where the service stopped receiving, instead of sending every
// byte again under a new identifier. Pictures are kept per session identity (Server, SessionID, UID,
// AlbumName, AlbumID) and held by the process that queued them, so that two copies of the program
// never send the same picture at once; a holder that is no longer running holds nothing.
//
// The journal is a safety net, not a condition of uploading: when its file cannot be read or written
// the journal says so once through its error report and does nothing from then on.
//
// Threads: any. d_lock guards the store and the failed flag; the error report runs with it released.
#pragma once

#include "foundation/mutex.h"
#include "platform/journal_store.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct PluginParameters;
class UploadItemInfo;

class CUploadJournal {
public:
    using ErrorReport = std::function<void(const std::string& text)>;

    // "pixolane/journal.db" in the user's state folder; empty when the user has none.
    static std::string DefaultPath();

    CUploadJournal(const std::string& path, const PluginParameters& parameters, ErrorReport report = {});
    // Lets go of the pictures this process holds, so that the next run takes them.
    ~CUploadJournal();
    CUploadJournal(const CUploadJournal&) = delete;
    CUploadJournal& operator=(const CUploadJournal&) = delete;

    bool IsWorking() const;

    enum class Admission {
        New,         // recorded afresh: a new picture, or its file changed since it was recorded
        Resumed,     // the identifier and servers of the earlier run are in the item
        HeldByOther, // another running copy of the program is uploading it
    };
    // A picture joins the queue: the item's path, size and album are recorded and, for the same
    // unchanged file, what the earlier run learnt is copied into the item.
    Admission Admit(UploadItemInfo& item);
    // What the sender learnt of the picture (its identifier, or that it was forgotten).
    void Identified(const UploadItemInfo& item);
    void Failed(const UploadItemInfo& item);
    // Uploaded, or removed by the user.
    void Forget(const std::string& path);

    struct Picture {
        std::string path;
        std::string albumName; // the picture's own album, empty for the session's
        bool failed = false;
    };
    // The pictures of this session identity that no other running copy holds, in the order they were
    // first recorded.
    std::vector<Picture> GetUnfinished();

private:
    platform::JournalRecord RecordOf(const UploadItemInfo& item, int state) const;
    // Stops using the store after its first failure and returns the text to report; the caller
    // holds d_lock and reports once it has released it.
    std::string Disable();
    void Report(const std::string& text) const;

    const platform::JournalIdentity d_identity;
    const int64_t d_owner;
    const ErrorReport d_report;
    mutable CMutex d_lock;
    std::unique_ptr<platform::JournalStore> d_store;
};
