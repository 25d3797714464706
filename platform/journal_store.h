// The upload journal's file: for each picture not yet uploaded, what is needed to go on with it in a
// later run (its file's size and time, its album, the identifier and servers the upload service gave
// it, its state), under the session identity it was queued with, and which running process holds it.
// One SQLite file shared by the user's processes; every change is one transaction.
// On Windows a text file of its own, rewritten whole under a named mutex for every change.
//
// Threads: one object per thread at a time (the caller serialises).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The session a picture was queued under: the same picture queued for another user, session or
// album is another record.
struct JournalIdentity {
    std::string server;
    std::string sessionID;
    std::string uid;
    std::string albumName;
    std::string albumID;
};

struct JournalRecord {
    std::string path;
    uint64_t size = 0;
    int64_t modified = 0;  // the file's modification time, seconds since 1970
    std::string albumName; // the picture's own album
    std::string albumID;
    std::string imageID; // empty until the service gave one
    std::string uploadServer;
    std::string server;
    std::string cookie;
    int state = 0;     // 0 waiting or moving, 2 failed
    int64_t owner = 0; // the process that holds the picture now, 0 for none
};

class JournalStore {
public:
    // What Claim found.
    enum class Claim {
        New,      // no record, or one of a file that changed since: recorded afresh
        Resumed,  // the record of the same file: its identifier and servers are in the record
        HeldByOther, // a running process other than `owner` holds it: nothing written
        Failed,   // the file could not be read or written: see GetLastError
    };

    // Opens the file, making it (mode 0600, its folders 0700; on Windows with the user folder's rights)
    // when it does not exist. Nothing when it cannot be opened or is not a journal, and then `error`
    // says why.
    static std::unique_ptr<JournalStore> Open(const std::string& path, std::string* error);
    virtual ~JournalStore() = default;

    // Takes the picture of `record` (its path, size, time and album) for `owner`: unless another
    // running process holds it, the stored record of the same file is resumed (the identifier, servers,
    // cookie and state are copied into `record`), and the record is written with `owner` as holder.
    virtual Claim Take(const JournalIdentity& identity, JournalRecord& record, int64_t owner) = 0;
    // Writes the identifier, servers, cookie and state of the record with its path.
    virtual bool Update(const JournalIdentity& identity, const JournalRecord& record) = 0;
    virtual bool Erase(const JournalIdentity& identity, const std::string& path) = 0;
    // The identity's records in the order they were first recorded.
    virtual std::optional<std::vector<JournalRecord>> List(const JournalIdentity& identity) = 0;
    // Lets go of every record `owner` holds.
    virtual bool Release(int64_t owner) = 0;
    virtual std::string GetLastError() const = 0;
};

} // namespace platform
